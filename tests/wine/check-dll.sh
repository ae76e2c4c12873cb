#!/bin/sh
# check-dll.sh [--allow-import DLL]... [--forbid-function NAME]... <objdump> <binary> <expected-format>
#              [export names...]
# Checks a Windows binary as the loader and the spooler see it:
#  - its object format is <expected-format> (pei-i386 or pei-x86-64);
#  - it exports exactly the names given, undecorated, each once, and nothing by ordinal only
#    (no names given: it exports nothing);
#  - it imports only from system DLLs, never from the MinGW runtime DLLs;
#  - it imports none of the forbidden functions (ones that an older Windows it must load on lacks, and that
#    it may only look up at run time).
set -eu

allowed="KERNEL32.DLL WINSPOOL.DRV GDI32.DLL MSVCRT.DLL USER32.DLL"
forbidden=""
while [ $# -gt 0 ]; do
    case "$1" in
    --allow-import) allowed="$allowed $(printf '%s' "$2" | tr '[:lower:]' '[:upper:]')" ;;
    --forbid-function) forbidden="$forbidden $2" ;;
    *) break ;;
    esac
    shift 2
done
if [ $# -lt 3 ]; then
    echo "usage: check-dll.sh [--allow-import DLL]... [--forbid-function NAME]... <objdump> <binary>" \
        "<expected-format> [export names...]" >&2
    exit 2
fi
objdump=$1
binary=$2
format=$3
shift 3

if [ ! -f "$binary" ]; then
    echo "FAIL: $binary does not exist" >&2
    exit 1
fi
dump=$("$objdump" -p "$binary") || {
    echo "FAIL: $objdump cannot read $binary" >&2
    exit 1
}
failed=0
# The lines of $1 as one line of words.
words() { printf '%s\n' "$1" | tr '\n' ' ' | sed 's/^ *//; s/ *$//'; }
fail() {
    echo "FAIL: $(basename "$binary"): $*" >&2
    failed=1
}

actual_format=$(printf '%s\n' "$dump" | sed -n 's/.*file format \([^ ]*\).*/\1/p' | head -n 1)
[ "$actual_format" = "$format" ] || fail "format is '$actual_format', expected '$format'"

# Names from the [Ordinal/Name Pointer] table, and the number of slots in the export address table.
names=$(printf '%s\n' "$dump" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
    inside && /^[[:space:]]*$/ { inside = 0 }
    inside && /^[[:space:]]*\[ *[0-9]+\]/ { sub(/^[[:space:]]*\[ *[0-9]+\][[:space:]]*/, ""); print }')
slots=$(printf '%s\n' "$dump" | awk '
    /^Export Address Table -- / { inside = 1; next }
    inside && /^[[:space:]]*$/ { inside = 0 }
    inside && /^[[:space:]]*\[ *[0-9]+\]/ { n++ }
    END { print n + 0 }')

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort >"$tmp/expected"
printf '%s\n' "$names" | sed '/^$/d' | LC_ALL=C sort >"$tmp/actual"
if ! cmp -s "$tmp/expected" "$tmp/actual"; then
    missing=$(LC_ALL=C comm -23 "$tmp/expected" "$tmp/actual")
    extra=$(LC_ALL=C comm -13 "$tmp/expected" "$tmp/actual")
    fail "exports differ; missing: [$(words "$missing")] unexpected: [$(words "$extra")]"
fi
actual=$(cat "$tmp/actual")
dups=$(printf '%s\n' "$actual" | uniq -d)
[ -z "$dups" ] || fail "exported more than once: $(words "$dups")"
decorated=$(printf '%s\n' "$actual" | grep -E '@|^_' || true)
[ -z "$decorated" ] || fail "decorated export names: $(words "$decorated")"
count=$(printf '%s\n' "$actual" | sed '/^$/d' | wc -l)
[ "$slots" -eq "$count" ] || fail "$slots exported entries for $count names (exports by ordinal only?)"

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr '[:lower:]' '[:upper:]' | LC_ALL=C sort -u)
for dll in $imports; do
    case " $allowed " in
    *" $dll "*) ;;
    *) fail "imports from $dll, which is not a system DLL" ;;
    esac
done
[ -n "$imports" ] || fail "no imports found (not a linked Windows binary?)"
# The functions of the import tables: "<vma> <hint> <name>" lines below each "DLL Name:".
functions=$(printf '%s\n' "$dump" | awk '
    /^[[:space:]]*DLL Name:/ { inside = 1; next }
    inside && /^[[:space:]]*$/ { inside = 0 }
    inside && /^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[A-Za-z_]/ { print $3 }')
for name in $forbidden; do
    if printf '%s\n' "$functions" | grep -qx "$name"; then
        fail "imports $name, which it may only look up at run time"
    fi
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "ok: $(basename "$binary"): $actual_format, exports [$(words "$actual")], imports [$(words "$imports")]"
