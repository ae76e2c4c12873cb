#!/usr/bin/env python3
"""Documents for the printer application's tests, made at test time with nothing but Python:

    make_documents.py DIR [TEST-FILE...]

writes into DIR
    receipt.pdf         a receipt page 80 mm wide: text, rules and a bar code drawn as bars
    document-a4.pdf     an A4 page and a US Letter page, the documents CUPS's IPP conformance tests print
    document-letter.pdf (and the same as PostScript, document-a4.ps and document-letter.ps)
    color.jpg gray.jpg  small JPEG pictures the suites print
    receipt.png         a receipt picture 576 dots wide, 8-bit grey: bars, text-like blocks, a grey ramp
    receipt.pwg         the same picture as PWG raster (sgray_8, 203 dpi), one page
    pwg-raster-samples-203dpi/sgray-8/receipt-sgray-8-203dpi.pwg  the same, where the test suites look

and, for each ipptool TEST-FILE, every PWG raster sample it names (pwg-raster-samples-DPIdpi/TYPE/NAME-TYPE-
DPIdpi.pwg) that Debian does not ship: a valid page of that type, resolution and paper size (4x6 in, A4 or
US Letter), white but for a black band across its top, so that ipptool can read every file it names.
"""
import re
import os
import struct
import sys
import zlib

MM = 72 / 25.4


# Two JPEG pictures of 16 x 16 pixels, grey and colour (ramps), for the suites' JPEG tests.
GRAY_JPEG = bytes.fromhex(
    "ffd8ffe000104a46494600010100000100010000ffdb0043000a07070807060a0808080b0a0a0b0e18100e0d0d0e1d151611"
    "18231f2524221f2221262b372f26293429212230413134393b3e3e3e252e4449433c48373d3e3bffc0000b08001000100101"
    "1100ffc400160001010100000000000000000000000000000607ffc400171000030100000000000000000000000000001663"
    "a1ffda0008010100003f00b66ca686ca69893653436534ffd9")
COLOR_JPEG = bytes.fromhex(
    "ffd8ffe000104a46494600010100000100010000ffdb0043000a07070807060a0808080b0a0a0b0e18100e0d0d0e1d151611"
    "18231f2524221f2221262b372f26293429212230413134393b3e3e3e252e4449433c48373d3e3bffdb0043010a0b0b0e0d0e"
    "1c10101c3b2822283b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b"
    "3b3b3b3b3b3b3b3bffc00011080010001003012200021101031101ffc4001600010101000000000000000000000000000005"
    "06ffc400161000030000000000000000000000000000001461ffc40014010100000000000000000000000000000006ffc400"
    "17110003010000000000000000000000000000166162ffda000c03010002110311003f00c6b1431496c50c5112ce456c34ff"
    "d9")


def postscript(path, w, h, title):
    with open(path, "w") as f:
        f.write("%%!PS-Adobe-3.0\n%%%%BoundingBox: 0 0 %d %d\n%%%%Pages: 1\n%%%%EndComments\n"
                "%%%%Page: 1 1\n<< /PageSize [%d %d] >> setpagedevice\n"
                "/Helvetica findfont 24 scalefont setfont 72 %d moveto (%s) show\n"
                "72 %d 200 20 rectfill showpage\n%%%%EOF\n" % (w, h, w, h, h - 72, title, h - 140))


def pdf(path, width_pt, height_pt, content):
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>" % (width_pt, height_pt),
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(path, "wb") as f:
        f.write(out)


def text(x, y, size, s):
    return b"BT /F1 %d Tf %.2f %.2f Td (%s) Tj ET\n" % (size, x, y, s.encode())


def receipt_pdf(path):
    w, h = 80 * MM, 120 * MM
    c = bytearray(b"0 g\n")
    y = h - 12 * MM
    for line in ("KQT-50 TEST RECEIPT", "1 x Coffee        3.50", "2 x Bagel         5.00",
                 "TOTAL             8.50"):
        c += text(6 * MM, y, 11, line)
        y -= 7 * MM
    c += b"%.2f %.2f %.2f %.2f re f\n" % (6 * MM, y, 68 * MM, 0.6 * MM)  # a rule
    x = 10 * MM
    for i in range(40):  # bars of a bar code
        bw = (1 + (i * 7) % 3) * 0.35 * MM
        if i % 2 == 0:
            c += b"%.2f %.2f %.2f %.2f re f\n" % (x, y - 22 * MM, bw, 18 * MM)
        x += bw + 0.3 * MM
    pdf(path, w, h, bytes(c))


def page_pdf(path, w, h, title):
    c = bytearray(b"0 g\n")
    c += text(72, h - 72, 24, title)
    for i in range(10):
        c += b"%.2f %.2f %.2f %.2f re f\n" % (72, h - 140 - i * 40, 40 + i * 40, 20)
    pdf(path, w, h, bytes(c))


def picture(width=576, height=600):
    """Rows of 8-bit grey: bars, blocks like lines of text, a ramp from white to black."""
    rows = []
    for y in range(height):
        row = bytearray(b"\xff" * width)
        if 40 <= y < 160:  # a bar code
            for x in range(48, width - 48):
                if ((x - 48) // 6) % 3 != 2:
                    row[x] = 0
        elif 200 <= y < 330 and (y - 200) % 26 < 18:  # lines of "text"
            for x in range(32, width - 96):
                if ((x // 11) + (y // 26)) % 4 != 0 and x % 11 < 8:
                    row[x] = 0
        elif 380 <= y < 560:  # a grey ramp: error diffusion keeps it, a threshold halves it
            for x in range(width):
                row[x] = 255 - (255 * x) // (width - 1)
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)


def png(path, rows):
    width, height = len(rows[0]), len(rows)
    raw = b"".join(b"\x00" + r for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        f.write(png_chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(png_chunk(b"IEND", b""))


def pwg_line(row):
    """A row in PWG raster's run-length coding: a line repeat count of 0, then runs of pixels."""
    out = bytearray(b"\x00")
    i, n = 0, len(row)
    while i < n:
        j = i
        while j + 1 < n and row[j + 1] == row[i] and j - i < 127:
            j += 1
        if j > i:  # a run of one value, repeated
            out += bytes([j - i, row[i]])
            i = j + 1
            continue
        j = i
        while j + 1 < n and row[j + 1] != row[j] and j - i < 127:
            j += 1
        count = j - i + 1
        if count == 1:  # a literal run holds two or more pixels: one alone is a run of one
            out += bytes([0, row[i]])
        else:
            out += bytes([257 - count]) + row[i:i + count]
        i += count
    return bytes(out)


def pwg(path, rows, dpi=203):
    width, height = len(rows[0]), len(rows)
    header = bytearray(1796)

    def put_str(at, s):
        header[at:at + len(s)] = s.encode()

    def put_int(at, v):
        header[at:at + 4] = struct.pack(">I", v)

    put_str(0, "PwgRaster")
    put_str(64, "sgray_8")
    put_int(276, dpi)                      # HWResolution
    put_int(280, dpi)
    put_int(352, width * 72 // dpi)        # PageSize in points
    put_int(356, height * 72 // dpi)
    put_int(372, width)                    # cupsWidth
    put_int(376, height)                   # cupsHeight
    put_int(384, 8)                        # cupsBitsPerColor
    put_int(388, 8)                        # cupsBitsPerPixel
    put_int(392, width)                    # cupsBytesPerLine
    put_int(396, 0)                        # cupsColorOrder chunked
    put_int(400, 18)                       # cupsColorSpace sGray
    put_int(420, 1)                        # cupsNumColors
    put_int(452, 1)                        # TotalPageCount
    with open(path, "wb") as f:
        f.write(b"RaS2" + bytes(header))
        for r in rows:
            f.write(pwg_line(r))


# type: bits per colour, colours, colour space (CUPS numbering), the value of white
PWG_TYPES = {
    "black-1": (1, 1, 3, 0x00),
    "sgray-8": (8, 1, 18, 0xff),
    "srgb-8": (8, 3, 19, 0xff),
    "srgb-16": (16, 3, 19, 0xff),
    "cmyk-8": (8, 4, 6, 0x00),
}
SIZES_IN = {"4x6": (4, 6), "a4": (210 / 25.4, 297 / 25.4), "letter": (8.5, 11)}


def pwg_sample(path, kind, dpi, size):
    bits, colors, space, white = PWG_TYPES[kind]
    width, height = int(size[0] * dpi), int(size[1] * dpi)
    pixel = max(1, bits * colors // 8)  # bytes a run counts in (a byte of 8 dots for black_1)
    line_bytes = (width * bits * colors + 7) // 8
    units = line_bytes // pixel

    def runs(value):
        out = bytearray()
        left = units
        while left > 0:
            n = min(left, 128)
            out += bytes([n - 1]) + bytes([value]) * pixel
            left -= n
        return bytes(out)

    black = 0xff if white == 0x00 else 0x00
    header = bytearray(1796)
    header[0:9] = b"PwgRaster"
    t = kind.replace("-", "_").encode()
    header[64:64 + len(t)] = t
    for at, v in ((276, dpi), (280, dpi), (352, int(size[0] * 72)), (356, int(size[1] * 72)), (372, width),
                  (376, height), (384, bits), (388, bits * colors), (392, line_bytes), (400, space),
                  (420, colors), (452, 1)):
        header[at:at + 4] = struct.pack(">I", v)
    band = dpi // 4  # a black band a quarter of an inch high, then white
    with open(path, "wb") as f:
        f.write(b"RaS2" + bytes(header))
        for value, rows in ((black, band), (white, height - band)):
            while rows > 0:
                n = min(rows, 256)  # a line repeated up to 255 more times
                f.write(bytes([n - 1]) + runs(value))
                rows -= n


def samples(out, test_file):
    pattern = re.compile(r"pwg-raster-samples-(\d+)dpi/([a-z0-9-]+)/(\S+?)-\2-\d+dpi\.pwg")
    with open(test_file) as f:
        names = set(pattern.findall(f.read()))
    for dpi, kind, name in sorted(names):
        size = next((v for k, v in SIZES_IN.items() if name.endswith(k) or ("-" + k) in name), SIZES_IN["4x6"])
        folder = os.path.join(out, "pwg-raster-samples-%sdpi" % dpi, kind)
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "%s-%s-%sdpi.pwg" % (name, kind, dpi))
        if not os.path.exists(path):
            pwg_sample(path, kind, int(dpi), size)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    receipt_pdf(os.path.join(out, "receipt.pdf"))
    page_pdf(os.path.join(out, "document-a4.pdf"), 595.28, 841.89, "A4 Test Document")
    page_pdf(os.path.join(out, "document-letter.pdf"), 612, 792, "US Letter Test Document")
    postscript(os.path.join(out, "document-a4.ps"), 595, 842, "A4 Test Document")
    postscript(os.path.join(out, "document-letter.ps"), 612, 792, "US Letter Test Document")
    for name, data in (("gray.jpg", GRAY_JPEG), ("color.jpg", COLOR_JPEG)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    rows = picture()
    png(os.path.join(out, "receipt.png"), rows)
    pwg(os.path.join(out, "receipt.pwg"), rows)
    folder = os.path.join(out, "pwg-raster-samples-203dpi", "sgray-8")
    os.makedirs(folder, exist_ok=True)
    pwg(os.path.join(folder, "receipt-sgray-8-203dpi.pwg"), rows)
    for test_file in sys.argv[2:]:
        samples(out, test_file)


if __name__ == "__main__":
    main()
