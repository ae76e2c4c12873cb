#!/bin/sh
# installer-screenshot.sh <build-dir> <KqtSetup.exe> <installer_window.exe> <picture.png>
# Starts KqtSetup under wine64 on an Xvfb display of its own, in a Wine desktop with code page 949
# (LC_ALL=ko_KR.UTF-8) and a Hangul font, checks that the window with its Korean caption appears, saves a
# screenshot of the desktop as <picture.png> and closes the installer.
set -eu
if [ $# -ne 4 ]; then
    echo "usage: installer-screenshot.sh <build-dir> <KqtSetup.exe> <installer_window.exe> <picture.png>" >&2
    exit 2
fi
build=$1
setup=$2
finder=$3
picture=$4
for tool in Xvfb import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "installer-screenshot.sh: $tool not found" >&2; exit 2; }
done
fc-list 2>/dev/null | grep -qi nanum || echo "installer-screenshot.sh: no Hangul font (fonts-nanum): the text will not show" >&2

wine=/usr/lib/wine/wine64
WINEPREFIX=$(mkdir -p "$build/wine" && cd "$build/wine" && pwd)/screenshot-prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
LC_ALL=ko_KR.UTF-8
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LC_ALL
unset WAYLAND_DISPLAY

tmp=$(mktemp -d)
xvfb=""
finish() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$tmp"
}
trap finish EXIT
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
tries=0
while [ ! -s "$tmp/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        cat "$tmp/xvfb.log" >&2
        exit 2
    fi
    sleep 0.1
done
DISPLAY=:$(head -n 1 "$tmp/display")
export DISPLAY

if [ ! -e "$WINEPREFIX/.kq-ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i >"$tmp/wineboot.log" 2>&1 || { cat "$tmp/wineboot.log" >&2; exit 1; }
    touch "$WINEPREFIX/.kq-ready"
fi

# No window manager here: a Wine desktop gives the dialog its frame and caption. The helper starts the
# installer on that desktop and answers through files.
result=$tmp/result
wait_for() { # word, tenths of a second
    tries=0
    while [ "$(cat "$result" 2>/dev/null)" != "$1" ] && [ "$tries" -lt "$2" ]; do
        [ "$(cat "$result" 2>/dev/null)" = missing ] && return 1
        tries=$((tries + 1))
        sleep 0.1
    done
    [ "$(cat "$result" 2>/dev/null)" = "$1" ]
}
"$wine" explorer /desktop=kqtsetup,640x480 "$finder" "$setup" 60 "Z:$result" >"$tmp/run.log" 2>&1 &
if ! wait_for found 900; then
    echo "installer-screenshot.sh: no window with the installer's Korean caption appeared" >&2
    cat "$tmp/run.log" >&2
    exit 1
fi
sleep 2 # let the dialog finish painting
mkdir -p "$(dirname "$picture")"
import -window root "$picture"
touch "$result.close"
wait_for closed 200 || echo "installer-screenshot.sh: the installer did not close" >&2
echo "installer-screenshot.sh: the installer's window appeared; picture in $picture"
