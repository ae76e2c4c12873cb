#!/bin/sh
# wine-monitor.sh <mingw-x64 build dir> <wine_monitor_test.exe> <KQMON.DLL>
# Runs wine_monitor_test in a fresh Wine prefix of its own (AddMonitorW changes the prefix for good), with
# the spooler's traces kept in <build dir>/wine/monitor.log for a look at what Wine did.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: wine-monitor.sh <mingw-x64 build dir> <wine_monitor_test.exe> <KQMON.DLL>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
exe=$2
dll=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
for f in "$exe" "$dll"; do
    if [ ! -f "$f" ]; then
        echo "wine-monitor.sh: $f not found" >&2
        exit 2
    fi
done

mkdir -p "$build/wine"
work=$(mktemp -d "$build/wine/monitor.XXXXXX")
cleanup() {
    if [ -d "$work/prefix" ]; then
        WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Z: is the host's root in every Wine prefix.
# shellcheck disable=SC1003
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

status=0
WINEDEBUG=${WINEDEBUG:-+localspl,+winspool} KQ_WINE_PREFIX=$work/prefix \
    "$here/run-wine.sh" "$work" "$exe" "$(winpath "$dll")" 2>"$build/wine/monitor.log" || status=$?
exit "$status"
