#!/usr/bin/env bash
# The README's example works exactly as the README shows it: its program is
# examples/settings.cpp, and its commands, run as they stand in a folder beside the build
# directory, build it against the installed library; it then prints the emulator's settings.
# usage: readme.sh BUILD-DIR SOURCE-DIR
source "$(dirname "$0")/lib.sh"
build=$1 source=$2

# block LANGUAGE: the first fenced block of that language in the README's Usage section.
block() {
  awk -v fence="\`\`\`$1" '
    /^## / { usage = ($0 == "## Usage") }
    usage && !done && $0 == fence { inside = 1; next }
    inside && $0 == "```" { inside = 0; done = 1 }
    inside { print }' "$source/README.md"
}
mkdir -p "$work/run" "$work/home"
block cpp >"$work/run/settings.cpp"
[ -s "$work/run/settings.cpp" ] || fail "no cpp block in the README's Usage section"
diff -u "$source/examples/settings.cpp" "$work/run/settings.cpp" ||
  fail "the README's program is not examples/settings.cpp"
block sh >"$work/commands.sh"
[ -s "$work/commands.sh" ] || fail "no sh block in the README's Usage section"

ln -s "$(cd "$build" && pwd)" "$work/run/build"
(cd "$work/run" && HOME=$work/home bash -e "$work/commands.sh") >"$work/commands.log" 2>&1 || {
  cat "$work/commands.log"
  fail "the README's commands"
}
mkdir -p "$work/device/Public"
start_emulator "$build/emulator/vesk-emulator" "$work/device"
# Built as the README shows, without sanitizers: against a sanitized library (VESK_SANITIZE
# builds) the sanitizers' runtime must then be loaded first.
preload=""
case $consumer_flags in
  *address*) preload="$(c++ -print-file-name=libasan.so) $(c++ -print-file-name=libubsan.so)" ;;
  *thread*) preload=$(c++ -print-file-name=libtsan.so) ;;
esac
expect_output "the README's program" "vesk-emulator: port $port, SSL port 0" \
  env -u LD_LIBRARY_PATH LD_PRELOAD="$preload" "$work/run/settings" "$port"
echo "README example: ok"
