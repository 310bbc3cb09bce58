#!/usr/bin/env bash
# The shared library's ABI against the baseline kept in abi/ for its SONAME: its exported
# functions and their types, the layout of the public classes (sizes and members) and the
# virtual tables of the interfaces (docs/guide.md, "Versions and the ABI"):
#
#   check-abi.sh check LIBRARY SOURCE-DIR HEADERS-DIR...   compare (the test packaging.abi)
#   check-abi.sh renew LIBRARY SOURCE-DIR HEADERS-DIR...   write the baseline anew
#                                                          (the target abi-baseline)
#
# What a release of the same major version may add, and the check accepts:
#   - functions (new exported symbols);
#   - enumerators;
#   - virtual functions of an interface placed after every slot its virtual table had in the
#     baseline, so that a caller built against the baseline finds each function it knows
#     where it was.
# Anything else fails it: a function removed or changed, a class whose size, members or base
# classes changed, a virtual function that moved, or one inserted before an existing slot.
#
# The baseline is abidw's description of the library, with the types of the public headers
# and whatever they reach, compressed. abidiff compares it with the library and reports each
# changed type once (its leaf changes); this script reads that report and lets through only
# the changes above. abidiff's own verdict cannot tell them apart: it reports an appended
# virtual function as an incompatible change when the class's destructor is not its last
# virtual function, and an inserted one as a compatible change when no known slot moves (a
# destructor's slots have no recorded offset). abi/abidiff.suppr holds the suppressions for
# what abidiff misreads.
set -euo pipefail
action=$1 library=$2 source=$3
shift 3
headers=()
for dir in "$@"; do headers+=(--headers-dir "$dir"); done
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
baseline=$source/tests/packaging/abi/$soname.abi.gz
suppressions=$source/tests/packaging/abi/abidiff.suppr
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vesk-abi.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The slots of each class's virtual table in an abidw description, one line per class with
# virtual functions: "NAME SLOTS DESTRUCTOR", SLOTS the number of its virtual functions with a
# known offset plus the two slots of a virtual destructor (whose offset abidw leaves unknown),
# or "derived" for a class with base classes, whose slots this cannot count; DESTRUCTOR 1 when
# it has a virtual destructor.
vtable_slots() {
  awk '
    match($0, /<class-decl name=\x27[^\x27]*\x27/) && $0 !~ /\/>[[:space:]]*$/ {
      name = substr($0, RSTART + 18, RLENGTH - 19)
      stack[++depth] = name
      next
    }
    /<\/class-decl>/ { if (depth > 0) depth--; next }
    depth == 0 { next }
    /<base-class / { derived[stack[depth]] = 1 }
    /<member-function / && /vtable-offset=/ {
      cls = stack[depth]
      known[cls] = 1
      if (/destructor=\x27yes\x27/) { destructor[cls] = 1; next }
      match($0, /vtable-offset=\x27-?[0-9]+\x27/)
      offset = substr($0, RSTART + 15, RLENGTH - 16) + 0
      if (offset >= 0 && !((cls, offset) in seen)) { seen[cls, offset] = 1; count[cls]++ }
    }
    END {
      for (cls in known)
        print cls, (cls in derived) ? "derived" : count[cls] + 2 * (cls in destructor), \
          (cls in destructor) ? 1 : 0
    }' "$1"
}

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
    vtable_slots "$scratch/baseline.abi" >"$scratch/slots"
    status=0
    abidiff --no-added-syms --leaf-changes-only --suppressions "$suppressions" \
      "$scratch/baseline.abi" "$library" >"$scratch/report" 2>&1 || status=$?
    # Bits 1 and 2 of abidiff's status: it failed, or was used wrongly.
    if [ $((status & 3)) -ne 0 ]; then
      cat "$scratch/report"
      echo "ABI check: abidiff failed (status $status)" >&2
      exit 1
    fi
    # Every line of the report must be one of the changes accepted, or what frames them.
    verdict=0
    awk -v slotsFile="$scratch/slots" '
      BEGIN {
        while ((getline line < slotsFile) > 0) {
          split(line, f, " ")
          slots[f[1]] = f[2]
          destructor[f[1]] = f[3]
        }
      }
      function refuse(why) { print "ABI check: not an addition: " why; refused = 1 }
      /^Leaf changes summary: / || /^Changed leaf types summary: / || /^$/ { next }
      /^Removed\/Changed\/Added (functions|variables) summary: / {
        if ($0 !~ /: 0 Removed, 0 Changed/) refuse($0)
        next
      }
      match($0, /^\x27(class|struct|union|enum) [^\x27]*\x27 changed:$/) {
        kind = $0; sub(/ .*/, "", kind); sub(/^\x27/, "", kind)
        type = substr($0, length(kind) + 3); sub(/\x27 changed:$/, "", type)
        list = ""
        next
      }
      type != "" && /^  type size hasn\x27t changed$/ { next }
      kind != "enum" && type != "" && /^  [0-9]+ member function insertions?:$/ {
        list = "functions"
        next
      }
      kind == "enum" && /^  [0-9]+ enumerator insertions?:$/ { list = "enumerators"; next }
      list == "enumerators" && /^    \x27[^\x27]*\x27 value \x27[^\x27]*\x27$/ {
        added[++n] = "enumerator " substr($0, 5)
        next
      }
      list == "functions" && /^    \x27method virtual .*, virtual at voffset [0-9]+\/[0-9]+$/ {
        match($0, /voffset [0-9]+\//)
        offset = substr($0, RSTART + 8, RLENGTH - 9) + 0
        if (!(type in slots) || slots[type] == "derived")
          refuse("a virtual function added to " type ", whose virtual table is not known")
        else if (offset < slots[type])
          refuse("a virtual function of " type " at slot " offset ", before the end of its " \
                 slots[type] " slots: " substr($0, 5))
        else
          added[++n] = "virtual function at slot " offset ": " substr($0, 5)
        next
      }
      # A virtual destructor the baseline has already, reported again for its variants.
      list == "functions" && /^    \x27method virtual [^\x27]*::~[^\x27]*\x27/ {
        if (!(type in slots) || slots[type] == "derived" || !destructor[type])
          refuse("a virtual destructor added to " type)
        next
      }
      # Followed by changes of member functions, it fails on the first of them.
      type != "" && /^  there are member function changes:$/ { list = "changes"; next }
      { refuse($0) }
      END {
        if (!refused) for (i = 1; i <= n; i++) print "ABI check: added since the baseline: " added[i]
        exit refused
      }' "$scratch/report" >"$scratch/verdict" || verdict=$?
    if [ "$verdict" -ne 0 ]; then
      cat "$scratch/report" "$scratch/verdict"
      echo "ABI check: $soname differs from its baseline by more than additions" \
        "(abidiff status $status)." >&2
      echo "An incompatible change needs a new major version (project(VERSION) in" \
        "CMakeLists.txt) and a baseline of it: cmake --build BUILD-DIR --target abi-baseline" >&2
      exit 1
    fi
    cat "$scratch/verdict"
    # Functions added are compatible; say which, so that a renewal can take them in.
    abidiff --suppressions "$suppressions" "$scratch/baseline.abi" "$library" |
      sed -n 's/^  \[A\] /ABI check: added since the baseline: /p' || true
    echo "ABI check: $soname matches its baseline, or adds to it only"
    ;;
  *)
    echo "usage: check-abi.sh check|renew LIBRARY SOURCE-DIR HEADERS-DIR..." >&2
    exit 2
    ;;
esac
