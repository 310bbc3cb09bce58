#!/usr/bin/env bash
# make package's .deb files: the library, the development files and the programs, each with
# the Depends that dpkg-shlibdeps found and the library package where it is needed. Unpacked
# into a scratch root, they give a tree that the consumer builds against with CMake and with
# pkg-config, and whose programs run.
# usage: deb.sh BUILD-DIR SOURCE-DIR
source "$(dirname "$0")/lib.sh"
build=$1 source=$2
(cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  fail "cpack"
}
version=$(sed -n 's/^#define VESK_HTTP_VERSION_STRING "\(.*\)"$/\1/p' "$build/include/VeskHttpVersion.h")
major=${version%%.*}
library=$(echo "$work"/packages/libveskhttp"$major"_*.deb)
development=$(echo "$work"/packages/libveskhttp-dev_*.deb)
programs=$(echo "$work"/packages/vesk_*.deb)
for deb in "$library" "$development" "$programs"; do [ -f "$deb" ] || fail "missing $deb"; done

# depends DEB PACKAGE...: the package's Depends names each PACKAGE.
depends() {
  local deb=$1 field
  shift
  field=$(dpkg-deb -f "$deb" Depends)
  for package in "$@"; do
    [[ ", $field," == *", $package"[\ \(,]* ]] || fail "$(basename "$deb") Depends: $field (no $package)"
  done
}
depends "$library" libc6 libstdc++6 libcurl4 libtinyxml2-9 libssl3
# jsoncpp is the tests' reference and the command line's writer, not the library's.
[[ "$(dpkg-deb -f "$library" Depends)" != *libjsoncpp* ]] ||
  fail "$(basename "$library") depends on jsoncpp: $(dpkg-deb -f "$library" Depends)"
depends "$development" "libveskhttp$major (= $version)"
depends "$programs" "libveskhttp$major (= $version)" libmicrohttpd12 libarchive13
# Each file in one package only.
files=$(for deb in "$library" "$development" "$programs"; do dpkg-deb -c "$deb"; done |
  awk '$1 !~ /^d/ { print $6 }' | sort)
grep -qx "./usr/include/VeskHttp.h" <<<"$files" || fail "no header in the packages"
[ -z "$(uniq -d <<<"$files")" ] || fail "files in two packages: $(uniq -d <<<"$files")"
# The host could install them: their dependencies are all to be had here.
if [ "$(id -u)" -eq 0 ]; then
  dpkg --dry-run --install "$library" "$development" "$programs" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --dry-run --install"; }
fi

root=$work/root
for deb in "$library" "$development" "$programs"; do dpkg-deb -x "$deb" "$root"; done
usr=$root/usr
env -u LD_LIBRARY_PATH "$usr/bin/vesk" --help >/dev/null || fail "the packaged vesk does not run"
mkdir -p "$work/device/Public"
start_emulator "$usr/bin/vesk-emulator" "$work/device"

cmake -S "$source/tests/packaging/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$usr" \
  -DCMAKE_CXX_FLAGS="$consumer_flags" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configure"; }
cmake --build "$work/cmake-build" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "build"; }
expect_output "CMake consumer of the packages" "Public" "$work/cmake-build/consumer" "$port"

export PKG_CONFIG_PATH=$(dirname "$(find "$usr" -name veskhttp.pc)")
libdir=$(pkg-config --variable=libdir veskhttp)
# shellcheck disable=SC2046,SC2086
c++ -std=c++17 $consumer_flags "$source/tests/packaging/consumer/consumer.cpp" \
  -DEXPECTED_VERSION="\"$(pkg-config --modversion veskhttp)\"" \
  $(pkg-config --cflags --libs veskhttp) -Wl,-rpath,"$libdir" -o "$work/pc-consumer" ||
  fail "pkg-config build"
loads "$work/pc-consumer" "$root" || fail "the pkg-config consumer does not load the packaged library"
expect_output "pkg-config consumer of the packages" "Public" "$work/pc-consumer" "$port"
echo "packages: ok ($(cd "$work/packages" && echo *.deb))"
