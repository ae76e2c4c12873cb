#!/bin/sh
# run-wine.sh <build-dir> <program> [args...]
# Runs a 64-bit Windows program under wine64 and exits with the program's exit status.
# The Wine prefix lives in <build-dir>/wine/prefix (or $KQ_WINE_PREFIX) and is made on first use;
# a lock keeps parallel runs from making it twice.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: run-wine.sh <build-dir> <program> [args...]" >&2
    exit 2
fi
build_dir=$1
program=$2
shift 2

wine=/usr/lib/wine/wine64 # /usr/bin/wine picks the 32-bit loader, which cannot run here
if [ ! -x "$wine" ]; then
    echo "run-wine.sh: $wine not found (install wine64)" >&2
    exit 2
fi

WINEPREFIX=${KQ_WINE_PREFIX:-$build_dir/wine/prefix}
WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts, no desktop menu entries.
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# No display unless one is asked for (KQ_WINE_DISPLAY, e.g. an Xvfb): console programs need none.
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${KQ_WINE_DISPLAY:-}" ]; then
    DISPLAY=$KQ_WINE_DISPLAY
    export DISPLAY
fi

# Wine wants an absolute prefix path.
mkdir -p "$(dirname "$WINEPREFIX")"
WINEPREFIX=$(cd "$(dirname "$WINEPREFIX")" && pwd)/$(basename "$WINEPREFIX")
ready=$WINEPREFIX/.kq-ready
if [ ! -e "$ready" ]; then
    (
        flock -x 9
        if [ ! -e "$ready" ]; then
            # A prefix without the marker is left over from an interrupted start: begin again.
            rm -rf "$WINEPREFIX"
            "$wine" wineboot -i >"$WINEPREFIX.log" 2>&1 || {
                echo "run-wine.sh: wineboot failed, see $WINEPREFIX.log" >&2
                exit 1
            }
            touch "$ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi

status=0
"$wine" "$program" "$@" || status=$?
exit "$status"
