#!/bin/sh
# The same ESC/POS job through kqspool and through the printer application gives the device the same
# bytes: both spool it as a RAW document to "KQT-50 Receipt" and the kit's print processor prints it. Also
# with two copies, through each way a client names the raw format, and for a job the processor stops
# early, where the job ends aborted with kqspool's own words for why. Over a network port as well, where
# the application adds only its status requests around the job.
#
#   tests/kqapp/equality.sh BIN SRC
BIN=$1
SRC=$2
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-equality

kq_server
: >"$WORK/device.prn"
kq_add eq kqt50_80mm "file://$WORK/device.prn"

# same JOB COPIES FORMAT: kqspool's port bytes and the application's device bytes for one job
same() {
    job=$1
    copies=$2
    format=$3
    name=$(basename "$job" .prn)-$copies-$(echo "$format" | tr '/' '_')
    KQT50_ROOT="$WORK/machine" "$BIN/kqspool" print --copies "$copies" --out "$WORK/$name.kqspool" "$job" \
        2>"$WORK/$name.kqspool.err" || true
    : >"$WORK/device.prn"
    id=$(kq_print eq "$job" "$format" "ATTR integer copies $copies")
    [ -n "$id" ] || kq_fail "$name: the application did not take the job"
    state=$(kq_wait_job eq "$id" 30)
    if ! cmp -s "$WORK/$name.kqspool" "$WORK/device.prn"; then
        cmp "$WORK/$name.kqspool" "$WORK/device.prn" >&2 || true
        kq_fail "$name: the device got other bytes from the application than kqspool's port (job $state)"
    fi
    echo "$name: $(wc -c <"$WORK/device.prn") bytes, the same both ways (job $state)"
    JOB=$id
    STATE=$state
}

for job in "$SRC/samples/receipt.prn" "$SRC/samples/text.prn" "$SRC/tests/clients/jobs/ntp-receipt.prn" \
    "$SRC/tests/clients/jobs/rpe-receipt.prn"; do
    same "$job" 1 application/vnd.escpos
    [ "$STATE" = completed ] || kq_fail "$job: job-state $STATE"
    reasons=$(kq_job_attr eq "$JOB" job-state-reasons)
    [ "$reasons" = job-completed-successfully ] || kq_fail "$job: completed with job-state-reasons $reasons"
done
same "$SRC/samples/receipt.prn" 2 application/vnd.escpos
same "$SRC/samples/receipt.prn" 1 application/octet-stream # typed by its first bytes
same "$SRC/samples/receipt.prn" 1 application/vnd.cups-raw  # what CUPS sends for a raw queue

# A job the print processor stops early: the same bytes (the part before the stop), and the job aborted
# with the reason and kqspool's sentence.
as_made="$SRC/tests/clients/as-made/rpe-as-made.prn"
same "$as_made" 1 application/vnd.escpos
[ "$STATE" = aborted ] || kq_fail "a job the processor stopped early ended $STATE"
reasons=$(kq_job_attr eq "$JOB" job-state-reasons)
case "$reasons" in
*document-format-error*) ;;
*) kq_fail "job-state-reasons $reasons: no document-format-error" ;;
esac
message=$(kq_job_attr eq "$JOB" job-state-message)
warning=$(sed -n "s|^kqspool: warning: $as_made, ||p" "$WORK/rpe-as-made-1-application_vnd.escpos.kqspool.err")
[ -n "$warning" ] || kq_fail "kqspool gave no warning for $as_made"
[ "$message" = "$warning" ] || kq_fail "job-state-message \"$message\" is not kqspool's \"$warning\""
echo "stopped early: \"$message\""

# Over a network port: kqspool and the application each send the job to a printer on a TCP port that
# answers status requests and keeps what it gets. The application's connection for the job carries
# kqspool's bytes between its own: automatic status back on and a status request before them, a status
# request and automatic status back off after them.
PRINTER_PORT=$(kq_port)
mkdir -p "$WORK/socket"
python3 "$SRC/tests/kqapp/fake_printer.py" "$PRINTER_PORT" --record "$WORK/socket" >"$WORK/printer.log" 2>&1 &
KQ_PIDS="$KQ_PIDS $!"
kq_wait_port "$PRINTER_PORT" 10
rm -f "$WORK/socket"/* # the wait's own connection
job="$SRC/samples/receipt.prn"
KQT50_ROOT="$WORK/machine" "$BIN/kqspool" print --out "socket://127.0.0.1:$PRINTER_PORT" "$job" ||
    kq_fail "kqspool did not print to socket://127.0.0.1:$PRINTER_PORT"
mv "$(ls -S "$WORK/socket"/connection-*.bin | head -n 1)" "$WORK/socket.kqspool"
rm -f "$WORK/socket"/*
kq_add net kqt50_80mm "socket://127.0.0.1:$PRINTER_PORT"
id=$(kq_print net "$job" application/vnd.escpos)
[ "$(kq_wait_job net "$id" 30)" = completed ] || kq_fail "the job to socket://127.0.0.1:$PRINTER_PORT did not complete"
# the busiest connection is the job's; the others asked the printer's status while it was idle
app=$(ls -S "$WORK/socket"/connection-*.bin | head -n 1)
python3 - "$WORK/socket.kqspool" "$app" <<'PY' || kq_fail "the job's connection is not kqspool's bytes between the application's own"
import sys
kqspool, app = (open(path, "rb").read() for path in sys.argv[1:])
ask = b"".join(b"\x10\x04" + bytes([n]) for n in range(1, 5))
framed = b"\x1da\x0e" + ask + kqspool + ask + b"\x1da\x00"
print(f"over a network port: kqspool sent {len(kqspool)} bytes, the application {len(app)}: "
      f"{'the same between its own' if app == framed else 'other bytes'}")
sys.exit(0 if app == framed else 1)
PY
