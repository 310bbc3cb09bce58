#!/usr/bin/env bash
# The shared library's ABI against the baseline kept in abi/ for its SONAME: its exported
# functions and their types, the layout of the public classes (sizes and members) and the
# virtual tables of the interfaces. Functions added are compatible; anything removed or
# changed fails the check until the baseline is deliberately renewed (docs/guide.md,
# "Versions and the ABI"):
#
#   check-abi.sh check LIBRARY SOURCE-DIR HEADERS-DIR...   compare (the test packaging.abi)
#   check-abi.sh renew LIBRARY SOURCE-DIR HEADERS-DIR...   write the baseline anew
#                                                          (the target abi-baseline)
#
# The baseline is abidw's description of the library, with the types of the public headers
# and whatever they reach, compressed.
set -euo pipefail
action=$1 library=$2 source=$3
shift 3
headers=()
for dir in "$@"; do headers+=(--headers-dir "$dir"); done
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
baseline=$source/tests/packaging/abi/$soname.abi.gz
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vesk-abi.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

case $action in
  renew)
    mkdir -p "$(dirname "$baseline")"
    abidw "${headers[@]}" --drop-private-types --no-corpus-path --no-comp-dir-path --no-show-locs \
      --out-file "$scratch/baseline.abi" "$library"
    # Paths relative to the source tree, so that the file does not depend on the checkout.
    sed "s|path='$source/|path='|" "$scratch/baseline.abi" | gzip -9n >"$baseline"
    echo "wrote $baseline"
    ;;
  check)
    if [ ! -f "$baseline" ]; then
      echo "no ABI baseline for $soname ($baseline): a new major version needs one;" \
        "write it with: cmake --build BUILD-DIR --target abi-baseline" >&2
      exit 1
    fi
    gzip -dc "$baseline" >"$scratch/baseline.abi"
    status=0
    abidiff --no-added-syms "$scratch/baseline.abi" "$library" >"$scratch/report" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      cat "$scratch/report"
      echo "ABI check: $soname differs from its baseline (abidiff status $status)." >&2
      echo "An incompatible change needs a new major version (project(VERSION) in" \
        "CMakeLists.txt); a deliberate change is taken by renewing the baseline:" \
        "cmake --build BUILD-DIR --target abi-baseline" >&2
      exit 1
    fi
    # Additions are compatible; say which, so that a renewal can take them in.
    abidiff "$scratch/baseline.abi" "$library" | sed -n 's/^  \[A\] /ABI check: added since the baseline: /p' || true
    echo "ABI check: $soname matches its baseline"
    ;;
  *)
    echo "usage: check-abi.sh check|renew LIBRARY SOURCE-DIR HEADERS-DIR..." >&2
    exit 2
    ;;
esac
