#!/usr/bin/env bash
# cmake --install gives a tree a caller can use: the library with its SONAME links, the
# headers, the CMake package and the pkg-config file, the programs (which find the library
# without help) and their man pages. A small project built against it with CMake, and the
# same program built with pkg-config, work against the emulator.
# usage: install-consumer.sh BUILD-DIR SOURCE-DIR
source "$(dirname "$0")/lib.sh"
build=$1 source=$2
prefix=$work/prefix
install_tree "$build" "$prefix"

version=$(sed -n 's/^#define VESK_HTTP_VERSION_STRING "\(.*\)"$/\1/p' "$prefix/include/VeskHttpVersion.h")
major=${version%%.*}
[ -n "$version" ] || fail "no version in the installed VeskHttpVersion.h"
for file in lib/libveskhttp.so.$version include/VeskHttp.h lib/cmake/VeskHttp/VeskHttpConfig.cmake \
  lib/cmake/VeskHttp/VeskHttpConfigVersion.cmake lib/cmake/VeskHttp/VeskHttpTargets.cmake \
  lib/pkgconfig/veskhttp.pc bin/vesk bin/vesk-emulator share/man/man1/vesk.1 \
  share/man/man1/vesk-emulator.1; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
[ "$(readlink "$prefix/lib/libveskhttp.so")" = "libveskhttp.so.$major" ] || fail "linker name"
[ "$(readlink "$prefix/lib/libveskhttp.so.$major")" = "libveskhttp.so.$version" ] || fail "SONAME link"
soname=$(readelf -d "$prefix/lib/libveskhttp.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libveskhttp.so.$major" ] || fail "SONAME is '$soname'"
for page in vesk vesk-emulator; do
  grep -q "^\.TH ${page^^} \"1\"" "$prefix/share/man/man1/$page.1" || fail "man page of $page"
done
# The installed programs run with the installed library, found through their run path.
loads "$prefix/bin/vesk" "$prefix/bin/../lib/libveskhttp.so.$major" ||
  fail "vesk does not load the installed library: $(ldd "$prefix/bin/vesk" | grep veskhttp)"
env -u LD_LIBRARY_PATH "$prefix/bin/vesk" --help >/dev/null || fail "vesk --help"

mkdir -p "$work/device/Public" "$work/device/Backup"
start_emulator "$prefix/bin/vesk-emulator" "$work/device"

# With CMake: find_package(VeskHttp) and VeskHttp::veskhttp.
cmake -S "$source/tests/packaging/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$consumer_flags" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configure"; }
cmake --build "$work/cmake-build" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "build"; }
loads "$work/cmake-build/consumer" "$prefix/lib/libveskhttp.so.$major" ||
  fail "the CMake consumer does not load the installed library"
expect_output "CMake consumer" $'Backup\nPublic' bash -o pipefail -c "'$work/cmake-build/consumer' $port | sort"

# With pkg-config.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion veskhttp)" = "$version" ] || fail "pkg-config version"
libdir=$(pkg-config --variable=libdir veskhttp)
# shellcheck disable=SC2046,SC2086
c++ -std=c++17 $consumer_flags "$source/tests/packaging/consumer/consumer.cpp" \
  -DEXPECTED_VERSION="\"$(pkg-config --modversion veskhttp)\"" \
  $(pkg-config --cflags --libs veskhttp) -Wl,-rpath,"$libdir" -o "$work/pc-consumer" ||
  fail "pkg-config build"
[ "$(readlink -f "$libdir")" = "$(readlink -f "$prefix/lib")" ] || fail "pkg-config libdir $libdir"
expect_output "pkg-config consumer" $'Backup\nPublic' bash -o pipefail -c "'$work/pc-consumer' $port | sort"
echo "install, CMake and pkg-config consumers: ok (VeskHttp $version)"
