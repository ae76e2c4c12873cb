#!/bin/sh
# The paper runs out in the middle of a job, on the virtual KQT-50 on a TCP port: within two seconds the
# printer's state reasons say media-empty and the job says it stopped for paper; it stays stopped; when
# paper is loaded it goes on, completes, and the printer took every byte of it once: as many as a second
# virtual printer that never runs out takes of the same job, none lost, and the same receipts drawn.
#
#   tests/kqapp/paper_out.sh BIN SRC
BIN=$1
SRC=$2
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-paper-out

# Four copies of the sample receipt, 720 mm of paper; the roll is 500 mm: it runs out in the third copy
# (the virtual printer uses up paper command by command, as it prints them).
job="$SRC/samples/receipt.prn"
kq_virtual out --paper 500
out_uri=$KQ_URI
kq_virtual reference
reference_uri=$KQ_URI
kq_server
kq_add reference kqt50_80mm "$reference_uri"
kq_add kq80 kqt50_80mm "$out_uri"

# the job on a printer that has paper enough
id=$(kq_print reference "$job" application/vnd.escpos "ATTR integer copies 4")
[ "$(kq_wait_job reference "$id" 60)" = completed ] || kq_fail "the reference job did not complete"
expected=$(kq_job_bytes reference)

start=$(date +%s.%N)
id=$(kq_print kq80 "$job" application/vnd.escpos "ATTR integer copies 4")
[ -n "$id" ] || kq_fail "the printer application did not take the job"
seen=""
for _ in $(seq 100); do
    case "$(kq_printer_attr kq80 printer-state-reasons)" in
    *media-empty*)
        seen=$(date +%s.%N)
        break
        ;;
    esac
    sleep 0.05
done
[ -n "$seen" ] || kq_fail "printer-state-reasons never said media-empty: $(kq_printer_attr kq80 printer-state-reasons)"
took=$(python3 -c "print(round($seen - $start, 2))")
echo "media-empty after ${took} s; the printer says: $(kq_control out status)"
python3 -c "import sys; sys.exit(0 if $took <= 2.0 else 1)" || kq_fail "media-empty came after ${took} s"

# the job waits, stopped for the paper, and does not end
sleep 2
state=$(kq_job_attr kq80 "$id" job-state)
reasons=$(kq_job_attr kq80 "$id" job-state-reasons)
message=$(kq_job_attr kq80 "$id" job-state-message)
echo "while out of paper: job-state $state, job-state-reasons $reasons, \"$message\""
[ "$state" = processing ] || kq_fail "the job is $state while the printer is out of paper"
case "$reasons" in *printer-stopped*) ;; *) kq_fail "job-state-reasons $reasons: no printer-stopped" ;; esac
[ "$message" = "Stopped: paper out: load paper to go on." ] || kq_fail "job-state-message \"$message\""

kq_control out load 0 >/dev/null
state=$(kq_wait_job kq80 "$id" 60)
[ "$state" = completed ] || kq_fail "after paper was loaded the job ended $state"
case "$(kq_printer_attr kq80 printer-state-reasons)" in
*media-empty*) kq_fail "media-empty stays after paper was loaded" ;;
esac

# every byte once: what the other printer took from the job's connection (the job, the application's
# status requests before and after it, automatic status back on and off), none lost, all printed
received=$(kq_job_bytes out)
# (the counts of one answer: the idle status requests go on arriving between two)
stats=$(kq_control out stats | tr ' ' '\n')
count() { echo "$stats" | sed -n "s/^$1=//p"; }
lost=$(count lost)
unprinted=$(($(count received) - $(count printed)))
echo "the printer took $received bytes of the job, lost $lost, left $unprinted unprinted; the other took $expected"
[ "$lost" -eq 0 ] || kq_fail "the printer lost $lost bytes"
[ "$unprinted" -eq 0 ] || kq_fail "the printer left $unprinted bytes unprinted"
[ "$received" = "$expected" ] || kq_fail "the printer took $received bytes of the job, not $expected"

# the four receipts, the third across the paper change, as the other printer drew them
for name in out reference; do
    kq_control "$name" quit >/dev/null || true
done
for _ in $(seq 50); do
    [ -f "$WORK/out/pictures/receipt-0004.png" ] && [ -f "$WORK/reference/pictures/receipt-0004.png" ] && break
    sleep 0.1
done
n=$(ls "$WORK/out/pictures"/receipt-*.png 2>/dev/null | wc -l)
[ "$n" -eq 4 ] || kq_fail "the virtual printer drew $n receipts, not 4"
for picture in "$WORK/out/pictures"/receipt-*.png; do
    "$BIN/kqapp_picture" same "$picture" "$WORK/reference/pictures/$(basename "$picture")" ||
        kq_fail "$(basename "$picture") is not as the other printer drew it"
done
