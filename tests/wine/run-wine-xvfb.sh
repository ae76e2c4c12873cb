#!/bin/sh
# run-wine-xvfb.sh <build-dir> <program> [args...]
# Runs a 64-bit Windows program that makes windows under wine64 (run-wine.sh), with an Xvfb display of its
# own: Xvfb picks a free display number itself, and stops when the program and its Wine processes are done.
# The Wine prefix is <build-dir>/wine/display-prefix unless KQ_WINE_PREFIX names one.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: run-wine-xvfb.sh <build-dir> <program> [args...]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "run-wine-xvfb.sh: Xvfb not found (install xvfb)" >&2
    exit 2
fi
KQ_WINE_PREFIX=${KQ_WINE_PREFIX:-$1/wine/display-prefix}
export KQ_WINE_PREFIX

tmp=$(mktemp -d)
xvfb=""
stop() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap stop EXIT
trap 'exit 130' INT TERM

# -displayfd: Xvfb takes the first free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
tries=0
while [ ! -s "$tmp/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "run-wine-xvfb.sh: Xvfb did not start:" >&2
        cat "$tmp/xvfb.log" >&2
        exit 2
    fi
    sleep 0.1
done
KQ_WINE_DISPLAY=:$(head -n 1 "$tmp/display")
export KQ_WINE_DISPLAY

# There is no window manager: Wine would wait 2 s for it at each closing window that it let it manage.
if [ ! -e "$KQ_WINE_PREFIX/.kq-unmanaged" ]; then
    sh "$here/run-wine.sh" "$1" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    touch "$KQ_WINE_PREFIX/.kq-unmanaged"
fi

status=0
sh "$here/run-wine.sh" "$@" || status=$?
# Wine's own processes of the prefix still hold the display: let them go first.
if [ -d "$KQ_WINE_PREFIX" ]; then
    WINEPREFIX=$(cd "$KQ_WINE_PREFIX" && pwd) /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
exit "$status"
