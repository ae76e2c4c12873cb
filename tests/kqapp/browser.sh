#!/bin/sh
# The web interface in a real browser: Debian's Chromium, headless, through playwright-core (installed from
# the npm registry into the build folder once, at its pinned version). Every page loads with no error, and
# the printer's page shows what its printer reports: a network printer whose paper is near its end.
#
#   tests/kqapp/browser.sh BIN SRC [SCREENSHOT.png]
BIN=$1
SRC=$2
SHOT=${3:-}
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-browser

[ -x /usr/bin/chromium ] || kq_fail "Chromium is not installed (scripts/setup.sh installs it)"
node_dir="$BIN/../kqapp-browser"
# installed once per lock file: the copy of the lock beside node_modules is made only when npm succeeded
if ! cmp -s "$SRC/tests/kqapp/browser/package-lock.json" "$node_dir/installed.json" 2>/dev/null; then
    rm -rf "$node_dir"
    mkdir -p "$node_dir"
    cp "$SRC/tests/kqapp/browser/package.json" "$SRC/tests/kqapp/browser/package-lock.json" "$node_dir/"
    (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null) ||
        kq_fail "npm could not install playwright-core"
    cp "$node_dir/package-lock.json" "$node_dir/installed.json"
fi

PRINTER_PORT=$(kq_port)
python3 "$SRC/tests/kqapp/fake_printer.py" "$PRINTER_PORT" 4=1e >"$WORK/printer.log" 2>&1 &
KQ_PIDS="$KQ_PIDS $!"
kq_wait_port "$PRINTER_PORT" 10
kq_server
kq_add receipt kqt50_80mm "socket://127.0.0.1:$PRINTER_PORT"
# the idle printer is asked its status every second
for _ in $(seq 50); do
    case "$(kq_printer_attr receipt printer-state-reasons)" in
    *media-low*) break ;;
    esac
    sleep 0.2
done
reasons=$(kq_printer_attr receipt printer-state-reasons)
case "$reasons" in
*media-low*) ;;
*) kq_fail "printer-state-reasons $reasons: the printer's near end is not shown" ;;
esac
echo "printer-state-reasons: $reasons"

cp "$SRC/tests/kqapp/browser/browse.js" "$node_dir/"
NODE_PATH="$node_dir/node_modules" node "$node_dir/browse.js" "http://localhost:$APP_PORT" receipt \
    "Idle" "Replace paper soon." ${SHOT:+--screenshot "$SHOT"} ||
    kq_fail "the web interface did not load cleanly"
