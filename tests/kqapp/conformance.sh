#!/bin/sh
# CUPS's IPP conformance tests against the running printer application: ipptool with ipp-everywhere.test
# (which runs ipp-2.0.test and ipp-1.1.test first) on the 80 mm printer and ipp-2.0.test on the 58 mm one,
# from copies of Debian's test files with the sample documents they name made beside them. Every test must pass or be skipped for a capability
# the KQT-50 does not have; none may fail.
#
#   tests/kqapp/conformance.sh BIN SRC
BIN=$1
SRC=$2
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-conformance

suites=/usr/share/cups/ipptool
mkdir -p "$WORK/suite"
cp "$suites/ipp-everywhere.test" "$suites/ipp-2.0.test" "$suites/ipp-1.1.test" "$WORK/suite/"
python3 "$SRC/tests/kqapp/make_documents.py" "$WORK/suite" "$WORK/suite/ipp-everywhere.test"

kq_server
# a printer of its own for each run: a suite leaves a held job behind, which the next would wait for
: >"$WORK/kq80.prn"
: >"$WORK/kq58.prn"
kq_add kq80 kqt50_80mm "file://$WORK/kq80.prn"
kq_add kq58 kqt50_58mm "file://$WORK/kq58.prn"
sleep 1.5 # the suites want printer-up-time above 0: a printer of this very second has 0

# One check fails in PAPPL 1.3.1 itself, not in the application, and is named here with the exact expectation
# it misses: a job held with job-hold-until has job-hold-until-specified as its only reason, and PAPPL's
# list of reasons it writes stops short of that one, so the Print-Job response has no job-state-reasons.
# Any other failure, or this check failing for another reason, fails the test.
known_check="Print-Job with job-hold-until"
known_miss="EXPECTED: job-state-reasons"

failed=0
run() {
    printer=$1
    suite=$2
    report="$WORK/$printer-$suite.txt"
    (cd "$WORK/suite" && ipptool -c -t -f receipt.pdf "$APP/ipp/print/$printer" "$suite") >"$report" 2>&1 || true
    pass=$(grep -c '\[PASS\]' "$report" || true)
    skip=$(grep -c '\[SKIP\]' "$report" || true)
    fail=$(grep '\[FAIL\]' "$report" | grep -vc "$known_check" || true)
    known=$(grep '\[FAIL\]' "$report" | grep -c "$known_check" || true)
    echo "$printer $suite: $pass passed, $skip skipped, $fail failed (and $known known PAPPL 1.3.1 failure)"
    # every expectation missed is the known one
    if grep 'EXPECTED:' "$report" | grep -qv "$known_miss\$"; then
        echo "$printer $suite: a check fails, other than the known one:" >&2
        grep -B 3 'EXPECTED:' "$report" >&2
        failed=1
    fi
    # ipptool's own errors (a file it cannot read, a server that went away) stop a run short
    if [ "$fail" -ne 0 ] || [ "$pass" -eq 0 ] || grep -q '^ipptool: ' "$report"; then
        grep -A 12 '\[FAIL\]' "$report" | head -n 80 >&2
        tail -n 5 "$report" >&2
        failed=1
    fi
}
run kq80 ipp-everywhere.test
run kq58 ipp-2.0.test
[ "$failed" -eq 0 ] || kq_fail "ipptool reported failures"
# the jobs the suites printed reached the device through the print processor: reset, images, cut
python3 - "$WORK/kq80.prn" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"\x1b@"), data[:8].hex()
assert b"\x1dv0\x00" in data and b"\x1bJ\xee" in data and b"\x1dV\xff\x1b2" in data, "no page image, feed or cut"
PY
