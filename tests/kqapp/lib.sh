# Shell helpers of the printer application's tests (sourced): a scratch folder, a free port, a kqapp
# server of the test's own that is stopped, by its process id, when the test ends, and IPP requests.
#
# The caller sets BIN (the build's bin folder) and SRC (the source tree) and calls kq_scratch first.

set -eu

# under LeakSanitizer, what PAPPL itself leaks is not the application's
export LSAN_OPTIONS="suppressions=$SRC/tests/kqapp/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# kq_scratch NAME: a fresh folder for the test in $WORK, removed at exit unless KQ_KEEP is set.
kq_scratch() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
    # PAPPL keeps per-user sockets and temporary files in TMPDIR: each test has its own
    export TMPDIR="$WORK/tmp"
    mkdir -p "$TMPDIR"
    KQ_PIDS=""
    trap kq_cleanup EXIT INT TERM
}

kq_cleanup() {
    status=$?
    for pid in $KQ_PIDS; do
        kq_stop "$pid"
    done
    # a sanitizer's report from a server or printer of the test, written as it ended, fails the test too
    if grep -rlE '^==[0-9]+==ERROR: |runtime error: ' "$WORK" --include='*.log' >"$WORK/sanitizer.txt" 2>/dev/null; then
        echo "FAIL: a sanitizer reported in $(tr '\n' ' ' <"$WORK/sanitizer.txt")" >&2
        status=1
    fi
    if [ "$status" -ne 0 ] && [ -d "$WORK" ]; then
        for log in "$WORK"/*.log; do
            [ -f "$log" ] || continue
            echo "---- last lines of $log" >&2
            tail -n 40 "$log" >&2
        done
    fi
    [ -n "${KQ_KEEP:-}" ] || rm -rf "$WORK"
    exit "$status"
}

# kq_stop PID: asks a process the test started to end, then insists.
kq_stop() {
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$1" 2>/dev/null || true
}

# kq_port: a TCP port nobody listens on now.
kq_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# kq_wait_port PORT SECONDS: until something listens on PORT.
kq_wait_port() {
    for _ in $(seq $(($2 * 10))); do
        python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1', $1)))" && return 0
        sleep 0.1
    done
    echo "nothing listens on port $1 after $2 s" >&2
    return 1
}

# kq_server [OPTIONS...]: starts `kqapp server` on a free port with its folders in $WORK/app; sets
# APP_PORT, APP_PID and APP (the server's URI).
kq_server() {
    APP_PORT=$(kq_port)
    mkdir -p "$WORK/app"
    HOME="$WORK/app" "$BIN/kqapp" server -o server-port="$APP_PORT" -o spool-directory="$WORK/app/spool" \
        -o state-file="$WORK/app/kqapp.state" -o log-file="$WORK/app.log" -o log-level=debug \
        -o status-interval=1 "$@" >"$WORK/app-stdout.log" 2>&1 &
    APP_PID=$!
    KQ_PIDS="$KQ_PIDS $APP_PID"
    APP="ipp://localhost:$APP_PORT"
    kq_wait_port "$APP_PORT" 15
}

# kq_add NAME DRIVER DEVICE-URI: a printer on the test's server.
kq_add() {
    HOME="$WORK/app" "$BIN/kqapp" add -u "$APP" -d "$1" -m "$2" -v "$3"
}

# kq_ipp PRINTER TEST-FILE [ipptool options...]: runs an ipptool test file against a printer of the
# server, in test mode; its report goes to standard output.
kq_ipp() {
    printer=$1
    test=$2
    shift 2
    ipptool -t "$@" "$APP/ipp/print/$printer" "$test"
}

# kq_job_attr PRINTER JOB-ID ATTRIBUTE: one attribute of a job, as ipptool shows it ("name=value").
kq_job_attr() {
    cat >"$WORK/get-job.test" <<EOF
{
    OPERATION Get-Job-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri \$uri
    ATTR integer job-id $2
    ATTR keyword requested-attributes $3
    STATUS successful-ok
}
EOF
    ipptool -tv "$APP/ipp/print/$1" "$WORK/get-job.test" | sed -n "s/^ *$3 ([^)]*) = //p"
}

# kq_printer_attr PRINTER ATTRIBUTE: one attribute of a printer.
kq_printer_attr() {
    cat >"$WORK/get-printer.test" <<EOF
{
    OPERATION Get-Printer-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri \$uri
    ATTR keyword requested-attributes $2
    STATUS successful-ok
}
EOF
    ipptool -tv "$APP/ipp/print/$1" "$WORK/get-printer.test" | sed -n "s/^ *$2 ([^)]*) = //p"
}

# kq_print PRINTER FILE FORMAT [ATTR-LINES]: a Print-Job; prints the job's id. KQ_IPP_TIMEOUT, when set,
# is how many seconds ipptool waits for the answer.
kq_print() {
    cat >"$WORK/print.test" <<EOF
{
    OPERATION Print-Job
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri \$uri
    ATTR name requesting-user-name test
    ATTR mimeMediaType document-format $3
    GROUP job-attributes-tag
    ${4:-}
    FILE $2
    STATUS successful-ok
}
EOF
    ipptool ${KQ_IPP_TIMEOUT:+-T "$KQ_IPP_TIMEOUT"} -tv "$APP/ipp/print/$1" "$WORK/print.test" |
        sed -n 's/^ *job-id (integer) = //p'
}

# kq_wait_job PRINTER JOB-ID SECONDS: until the job has ended; prints its job-state.
kq_wait_job() {
    for _ in $(seq $(($3 * 5))); do
        state=$(kq_job_attr "$1" "$2" job-state)
        case "$state" in
        canceled | aborted | completed)
            echo "$state"
            return 0
            ;;
        esac
        sleep 0.2
    done
    echo "job $2 did not end in $3 s (job-state $state)" >&2
    return 1
}

# kq_fail MESSAGE: the test fails, saying why.
kq_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# kq_virtual NAME [vkqt50 OPTIONS...]: starts a virtual KQT-50 on a free TCP port, its pictures in
# $WORK/NAME/pictures, its log in $WORK/NAME/printer.log, its control socket at $WORK/NAME/printer.ctl;
# sets KQ_URI to its device URI (socket://127.0.0.1:PORT).
kq_virtual() {
    dir="$WORK/$1"
    shift
    mkdir -p "$dir/pictures"
    "$BIN/vkqt50" --tcp 0 --pictures "$dir/pictures" --log "$dir/printer.log" --control "$dir/printer.ctl" \
        "$@" >"$dir/printer.ready" 2>"$dir/printer-stderr.log" &
    KQ_PIDS="$KQ_PIDS $!"
    for _ in $(seq 100); do
        KQ_URI=$(head -n 1 "$dir/printer.ready" 2>/dev/null || true)
        [ -n "$KQ_URI" ] && [ -S "$dir/printer.ctl" ] && return 0
        sleep 0.1
    done
    kq_fail "the virtual printer $(basename "$dir") did not start"
}

# kq_control NAME COMMAND: one command to a virtual printer's control socket; prints its reply.
kq_control() {
    python3 - "$WORK/$1/printer.ctl" "$2" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n")
reply = b""
while not reply.endswith(b"\n"):
    chunk = s.recv(4096)
    if not chunk:
        break
    reply += chunk
print(reply.decode().strip())
PY
}

# kq_job_bytes NAME: the bytes a virtual printer took from its busiest connection, the job's (the idle
# status requests come on connections of their own).
kq_job_bytes() {
    sed -n 's/.* closed, \([0-9,]*\) byte(s) taken from it$/\1/p' "$WORK/$1/printer.log" | tr -d , | sort -n | tail -n 1
}
