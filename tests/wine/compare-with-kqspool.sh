#!/bin/sh
# compare-with-kqspool.sh <mingw-x64 build dir> <linux build dir> <job file>
# Prints the job through Wine's own spooler with the Windows KQPRINT.DLL (wine_spool_test.exe, in a
# fresh Wine prefix), then through the Linux kqspool at the vertical resolution that Wine's printer
# reports (fresh machine root), and checks that the two ports received the same bytes.
# The outputs and logs of the last run stay in <mingw build dir>/wine/compare-<job name>/.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: compare-with-kqspool.sh <mingw-x64 build dir> <linux build dir> <job file>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
win_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
job=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")

exe=$win_build/bin/wine_spool_test.exe
dll=$win_build/bin/KQPRINT.DLL
kqspool=$linux_build/bin/kqspool
for f in "$exe" "$dll" "$kqspool" "$job"; do
    if [ ! -f "$f" ]; then
        echo "compare-with-kqspool.sh: $f not found" >&2
        exit 2
    fi
done

# Z: is the host's root in every Wine prefix.
# shellcheck disable=SC1003
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

name=$(basename "$job" | tr -c 'A-Za-z0-9._\n-' '_')
results=$win_build/wine/compare-$name
mkdir -p "$results"
exec 9>"$results.lock"
flock -x 9 # one run per job at a time; each run has a prefix of its own

work=$(mktemp -d "$win_build/wine/spool.XXXXXX")
cleanup() {
    if [ -d "$work/prefix" ]; then
        WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -f "$results/wine.prn" "$results/kqspool.prn" "$results/wine.log" "$results/kqspool.log"

# The port is a file inside the prefix's C: drive, the form of port Wine writes to without registration.
status=0
KQ_WINE_PREFIX=$work/prefix "$here/run-wine.sh" "$work" "$exe" "$(winpath "$dll")" "$(winpath "$job")" \
    'C:\kqt50-out.prn' >"$results/wine.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: wine_spool_test exited with $status:" >&2
    cat "$results/wine.log" >&2
    exit 1
fi
dpi=$(sed -n 's/^LOGPIXELSY \([0-9][0-9]*\).*/\1/p' "$results/wine.log" | head -n 1)
if [ -z "$dpi" ]; then
    echo "FAIL: wine_spool_test reported no LOGPIXELSY:" >&2
    cat "$results/wine.log" >&2
    exit 1
fi
cp "$work/prefix/drive_c/kqt50-out.prn" "$results/wine.prn"

mkdir "$work/root"
status=0
KQT50_ROOT=$work/root "$kqspool" print --dpi "$dpi" --no-monitor --out "$results/kqspool.prn" "$job" \
    >"$results/kqspool.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: kqspool exited with $status:" >&2
    cat "$results/kqspool.log" >&2
    exit 1
fi

wine_size=$(wc -c <"$results/wine.prn")
linux_size=$(wc -c <"$results/kqspool.prn")
if [ "$wine_size" -eq 0 ]; then
    echo "FAIL: Wine's port received nothing" >&2
    exit 1
fi
if ! cmp -s "$results/wine.prn" "$results/kqspool.prn"; then
    echo "FAIL: $(basename "$job") at $dpi dpi: Wine's port got $wine_size bytes, kqspool's $linux_size; first differences:" >&2
    cmp -l "$results/wine.prn" "$results/kqspool.prn" 2>&1 | head -n 10 >&2 || true
    echo "(outputs kept in $results)" >&2
    exit 1
fi
echo "ok: $(basename "$job") at $dpi dpi: both ports got the same $wine_size bytes"
