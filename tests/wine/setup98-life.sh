#!/bin/sh
# setup98-life.sh <build-dir> <program.exe>
# Runs the Windows 98/ME life test under wine64 in a fresh prefix of its own (<build-dir>/wine/setup98-prefix)
# in which Wine reports Windows 98 to the program (HKCU\Software\Wine\AppDefaults\<program>.exe, Version
# "win98"), on an Xvfb display (run-wine-xvfb.sh). The prefix goes when the test passes.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: setup98-life.sh <build-dir> <program.exe>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$1
program=$2
KQ_WINE_PREFIX=$(mkdir -p "$build/wine" && cd "$build/wine" && pwd)/setup98-prefix
export KQ_WINE_PREFIX
rm -rf "$KQ_WINE_PREFIX" "$KQ_WINE_PREFIX.lock" "$KQ_WINE_PREFIX.log"

# run-wine.sh makes the prefix; wineboot ran without a display, so its wineserver must end before the
# program starts on the Xvfb one.
sh "$here/run-wine.sh" "$build" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$program")" \
    /v Version /t REG_SZ /d win98 /f >/dev/null
WINEPREFIX=$KQ_WINE_PREFIX /usr/lib/wine/wineserver -w

status=0
sh "$here/run-wine-xvfb.sh" "$build" "$program" || status=$?
[ "$status" -eq 0 ] && rm -rf "$KQ_WINE_PREFIX" "$KQ_WINE_PREFIX.lock" "$KQ_WINE_PREFIX.log"
exit "$status"
