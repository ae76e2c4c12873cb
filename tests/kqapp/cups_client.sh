#!/bin/sh
# A real client: CUPS (its own cupsd, on its own port and folders, beside no system service) makes a
# driverless queue for the printer application (lpadmin -m everywhere) and prints a PDF and a PNG to it;
# what the KQT-50 got, drawn as it prints it, must be the documents within dithering.
#
#   tests/kqapp/cups_client.sh BIN SRC
BIN=$1
SRC=$2
. "$SRC/tests/kqapp/lib.sh"
kq_scratch kqapp-cups
# CUPS's filters run as lp: they read the job files and the documents below this folder
chmod 755 "$WORK"

python3 "$SRC/tests/kqapp/make_documents.py" "$WORK/docs"
chmod -R a+rX "$WORK/docs"

kq_server
: >"$WORK/device.prn"
kq_add kq80 kqt50_80mm "file://$WORK/device.prn"

CUPS_PORT=$(kq_port)
cups="$WORK/cups"
mkdir -p "$cups/etc/ppd" "$cups/spool/tmp" "$cups/cache" "$cups/state/certs" "$cups/log"
chmod -R 755 "$cups"
cat >"$cups/etc/cupsd.conf" <<CONF
Listen 127.0.0.1:$CUPS_PORT
Browsing No
BrowseLocalProtocols none
LogLevel debug
WebInterface No
DefaultAuthType None
DefaultEncryption Never
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat >"$cups/etc/cups-files.conf" <<CONF
ServerRoot $cups/etc
RequestRoot $cups/spool
TempDir $cups/spool/tmp
CacheDir $cups/cache
StateDir $cups/state
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
CONF
cupsd -f -c "$cups/etc/cupsd.conf" -s "$cups/etc/cups-files.conf" >"$WORK/cupsd.log" 2>&1 &
KQ_PIDS="$KQ_PIDS $!"
kq_wait_port "$CUPS_PORT" 15
export CUPS_SERVER="127.0.0.1:$CUPS_PORT"

lpadmin -p kqt50 -v "$APP/ipp/print/kq80" -m everywhere -E || kq_fail "lpadmin could not make the driverless queue"
lpstat -p kqt50 >/dev/null || kq_fail "CUPS has no queue kqt50"

# print FILE: the queue prints it; the device's bytes of it are kept
print() {
    name=$1
    : >"$WORK/device.prn"
    lp -d kqt50 "$WORK/docs/$name" >"$WORK/lp.out" || kq_fail "lp $name"
    for _ in $(seq 300); do
        [ -z "$(lpstat -o kqt50 2>/dev/null)" ] && break
        sleep 0.2
    done
    [ -z "$(lpstat -o kqt50 2>/dev/null)" ] || kq_fail "CUPS did not finish $name: $(lpstat -o kqt50)"
    # the application ends the job once CUPS's ipp backend has sent it; it may still be writing
    for _ in $(seq 50); do
        [ -s "$WORK/device.prn" ] && [ "$(kq_printer_attr kq80 printer-state)" = idle ] && break
        sleep 0.2
    done
    [ -s "$WORK/device.prn" ] || kq_fail "nothing of $name reached the printer"
    cp "$WORK/device.prn" "$WORK/$name.prn"
    "$BIN/kqapp_picture" render "$WORK/$name.prn" "$WORK/$name.printed.png"
}

print receipt.pdf
pdftoppm -r 203 -gray -singlefile -png "$WORK/docs/receipt.pdf" "$WORK/receipt.source" ||
    kq_fail "pdftoppm could not draw the source"
"$BIN/kqapp_picture" compare "$WORK/receipt.pdf.printed.png" "$WORK/receipt.source.png" ||
    kq_fail "the PDF printed is not the PDF sent"

print receipt.png
"$BIN/kqapp_picture" compare "$WORK/receipt.png.printed.png" "$WORK/docs/receipt.png" ||
    kq_fail "the PNG printed is not the PNG sent"

# CUPS spoke IPP Everywhere to the application: its driverless PPD came from the printer's attributes
grep -q '^\*cupsFilter2: "application/pdf application/pdf' "$cups/etc/ppd/kqt50.ppd" ||
    grep -q 'application/vnd.cups-pdf\|image/pwg-raster' "$cups/etc/ppd/kqt50.ppd" ||
    kq_fail "the queue's PPD was not made from the printer's attributes"
