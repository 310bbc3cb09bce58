# Shared by the packaging tests: a scratch folder removed at exit, the device emulator on a
# free loopback port, and the compiler flags of programs built against the library.
# shellcheck shell=bash
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-packaging.XXXXXX")
emulator_pid=""
cleanup() {
  if [ -n "$emulator_pid" ]; then
    kill -TERM "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Programs built against a sanitized library are sanitized too (VESK_SANITIZE builds).
consumer_flags=${VESK_CONSUMER_FLAGS:-}

# start_emulator PROGRAM ROOT [FLAG...]: serves ROOT on a free port of 127.0.0.1, plain HTTP
# only, as admin/admin; sets $port. The emulator is stopped at exit.
start_emulator() {
  local program=$1 root=$2
  shift 2
  local out=$work/emulator.out line
  mkfifo "$out"
  "$program" --root "$root" --port 0 --no-tls "$@" >"$out" 2>&1 &
  emulator_pid=$!
  exec 3<"$out"
  read -r -t 60 line <&3 || fail "the emulator did not start"
  port=${line##*:}
  [[ $port =~ ^[0-9]+$ ]] || fail "the emulator did not start: $line"
}

# install_tree BUILD PREFIX: installs the build's every component into PREFIX.
install_tree() {
  cmake --install "$1" --prefix "$2" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install $1"
  }
}

# loads PROGRAM PATH: the dynamic loader finds a library of PROGRAM at PATH (or below it).
loads() {
  local libraries
  libraries=$(ldd "$1") || return 1
  [[ $libraries == *"=> $2"* ]]
}

# expect_output "WHAT" EXPECTED COMMAND...: runs COMMAND and compares its standard output.
expect_output() {
  local what=$1 expected=$2 actual
  shift 2
  actual=$("$@") || fail "$what: exit status $?"
  [ "$actual" = "$expected" ] || fail "$what: printed
$actual
instead of
$expected"
}
