#!/usr/bin/env bash
# The shared library exports the public API and nothing else: the exported classes, their
# type information and virtual tables, and the four exported sequence types (whose members
# callers must find there, non-const ones included).
set -euo pipefail
lib="$1"
exports=$(nm -DC --defined-only "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }' | sed 's/@@.*//')
stray=$(printf '%s\n' "$exports" | grep -v -E '^(VESKHTTP_1$|CVeskHttp|IVeskHttp|(typeinfo|typeinfo name|vtable) for (CVeskHttp|IVeskHttp)|std::vector<CVeskHttp(FileEntry|ExtractEntry|ShareLink|FileStatus), )' || true)
if [ -n "$stray" ]; then
  echo "exported beyond the public API:"; printf '%s\n' "$stray" | head -20; exit 1
fi
for record in FileEntry ExtractEntry ShareLink FileStatus; do
  for member in "begin()" "end()" "push_back(CVeskHttp$record const&)"; do
    # A here-string, not a pipe: grep -q stops reading at its first match, and under pipefail
    # the writer's broken pipe would then fail the check.
    grep -qF "std::vector<CVeskHttp$record, std::allocator<CVeskHttp$record> >::$member" <<<"$exports" ||
      { echo "missing export: std::vector<CVeskHttp$record>::$member"; exit 1; }
  done
done
for class in CVeskHttpServer CVeskHttpFileEntry; do
  grep -q "^$class::" <<<"$exports" || { echo "missing export: $class"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$exports" | wc -l) symbols"
