#!/bin/sh
# Documents that are not what they say end their own job, with a reason a user can read, and never the
# server: a raster stream cut short, raster headers that promise pages far beyond any receipt, a PDF
# that is none, a PDF page as long as a street, pictures of 900 million pixels, ESC/POS that is not the
# KQT-50's. After them all the server still prints a good document. No part of a page that could not be read reaches the printer; of the ESC/POS,
# what the print processor passed before it stopped.
#
#   tests/kqapp/malformed.sh BIN SRC
BIN=$1
SRC=$2
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-malformed

python3 - "$SRC/tests/kqapp" "$WORK/docs" <<'PY'
import os, struct, sys, zlib
sys.path.insert(0, sys.argv[1])
import make_documents as md

out = sys.argv[2]
os.makedirs(out)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def header_int(data, at, value):
    data[4 + at:8 + at] = struct.pack(">I", value)  # after the sync word


rows = md.picture()
md.pwg(os.path.join(out, "good.pwg"), rows)
good = open(os.path.join(out, "good.pwg"), "rb").read()
write("cut.pwg", good[:len(good) * 3 // 5])
md.pwg(os.path.join(out, "three-rows.pwg"), rows[40:43])
three = open(os.path.join(out, "three-rows.pwg"), "rb").read()
tall = bytearray(three)  # a million rows promised, three sent
header_int(tall, 376, 1000000)
header_int(tall, 356, 1000000 * 72 // 203)
write("tall.pwg", tall)
wide = bytearray(three)  # lines of 60,000 dots
for at, value in ((372, 60000), (392, 60000), (352, 60000 * 72 // 203)):
    header_int(wide, at, value)
write("wide.pwg", wide)
write("garbage.pdf", b"%PDF-1.4\n" + bytes(range(256)) * 8)
# a page 3.5 mm wide and 70 m long: fitted to the paper's width it is far longer than any roll
md.pdf(os.path.join(out, "street.pdf"), 10, 200000, md.text(1, 100000, 8, "x"))
# pictures that say they are 30,000 x 30,000 pixels (900 million) and hold a few rows
png_rows = zlib.compress(bytes(30001) * 4)
write("huge.png", b"\x89PNG\r\n\x1a\n" + md.png_chunk(b"IHDR", struct.pack(">IIBBBBB", 30000, 30000, 8, 0, 0, 0, 0)) +
      md.png_chunk(b"IDAT", png_rows) + md.png_chunk(b"IEND", b""))
md.png(os.path.join(out, "good.png"), rows)
whole = open(os.path.join(out, "good.png"), "rb").read()
write("cut.png", whole[:len(whole) * 3 // 5])
# the frame's height and width, after its marker, length and precision
write("huge.jpg", md.GRAY_JPEG.replace(b"\xff\xc0\x00\x0b\x08\x00\x10\x00\x10", b"\xff\xc0\x00\x0b\x08\x75\x30\x75\x30", 1))
# ESC/POS with a command the KQT-50 does not have, after a line of text
write("bogus.escpos", b"\x1b@receipt\n\x1c.\x1b@more text\n" * 4)
PY

: >"$WORK/device.prn"
kq_server
kq_add kq80 kqt50_80mm "file://$WORK/device.prn"

# expect FILE FORMAT: the job ends, not completed, with a reason and a message; the server lives on. A
# raster stream is read as it comes: where it promises more than it holds, the job waits for the rest until
# the client hangs up (ipptool after 5 s here). Jobs are numbered from 1 in the order sent.
job=0
expect() {
    job=$((job + 1))
    before=$(wc -c <"$WORK/device.prn")
    KQ_IPP_TIMEOUT=5 kq_print kq80 "$WORK/docs/$1" "$2" >/dev/null
    state=$(kq_wait_job kq80 "$job" 60) || kq_fail "the job of $1 did not end"
    kill -0 "$APP_PID" 2>/dev/null || kq_fail "the server ended on $1"
    reasons=$(kq_job_attr kq80 "$job" job-state-reasons)
    message=$(kq_job_attr kq80 "$job" job-state-message)
    after=$(wc -c <"$WORK/device.prn")
    echo "$1: $state, $reasons, \"$message\", $((after - before)) byte(s) to the printer"
    [ "$state" != completed ] || kq_fail "the job of $1 completed"
    case "$reasons" in
    *job-completed-successfully* | none | "") kq_fail "the job of $1 ended without a reason: $reasons" ;;
    esac
    [ -n "$message" ] || kq_fail "the job of $1 ended without a message"
    [ "$2" = application/vnd.escpos ] || [ "$after" -eq "$before" ] || kq_fail "a page of $1 reached the printer"
}

expect cut.pwg image/pwg-raster
expect tall.pwg image/pwg-raster
expect wide.pwg image/pwg-raster
expect garbage.pdf application/pdf
expect street.pdf application/pdf
expect cut.png image/png
expect huge.png image/png
expect huge.jpg image/jpeg
expect bogus.escpos application/vnd.escpos

# the server is whole: a good document prints
before=$(wc -c <"$WORK/device.prn")
id=$(kq_print kq80 "$WORK/docs/good.pwg" image/pwg-raster)
[ "$(kq_wait_job kq80 "$id" 60)" = completed ] || kq_fail "a good document after the bad ones did not print"
[ "$(wc -c <"$WORK/device.prn")" -gt "$before" ] || kq_fail "nothing of the good document reached the printer"
echo "good.pwg: completed"
