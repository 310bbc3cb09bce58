#!/usr/bin/env bash
# The DLL exports the public API and nothing else: the exported classes and the type information
# and virtual tables of the interfaces. (Callers instantiate the sequence types themselves.)
# Usage: check-exports-windows.sh OBJDUMP DLL
set -euo pipefail
objdump="$1"
dll="$2"
exports=$("$objdump" -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' |
  c++filt)
stray=$(printf '%s\n' "$exports" | grep -v -E '^(CVeskHttp|IVeskHttp|(typeinfo|vtable) for (CVeskHttp|IVeskHttp))' || true)
if [ -n "$stray" ]; then
  echo "exported beyond the public API:"; printf '%s\n' "$stray" | head -20; exit 1
fi
for class in CVeskHttpServer CVeskHttpFileEntry CVeskHttpServerInfo; do
  grep -q "^$class::" <<<"$exports" || { echo "missing export: $class"; exit 1; }
done
grep -qx "vtable for IVeskHttpFileStation" <<<"$exports" ||
  { echo "missing export: vtable for IVeskHttpFileStation"; exit 1; }
echo "exports ok: $(printf '%s\n' "$exports" | wc -l) symbols"
