#!/usr/bin/env python3
"""Makes the sample KQT-50 jobs beside this script: receipt.prn and text.prn.

Run: python3 samples/make_samples.py   (standard library only; the output is the same on every run)
"""

import os
import textwrap

DLE, ESC, FS, GS = 0x10, 0x1B, 0x1C, 0x1D
LF, CR, HT, NUL = 0x0A, 0x0D, 0x09, 0x00


def cmd(*parts):
    out = bytearray()
    for p in parts:
        out += p.encode("ascii") if isinstance(p, str) else bytes([p])
    return bytes(out)


def text(s):
    return s.encode("ascii")


# Private directives that the KQPRINT print processor acts on and never passes to the printer.
def end_of_page():
    return cmd(ESC, "P", "e", 0)


def end_of_document():
    return cmd(ESC, "P", "e", 1)


def cut_request():
    return cmd(ESC, "P", "g", 2)


def raster(width_bytes, rows, data):
    assert len(data) == width_bytes * rows
    return cmd(GS, "v", "0", 0, width_bytes & 0xFF, width_bytes >> 8, rows & 0xFF, rows >> 8) + bytes(data)


def logo_band(index, width_bytes, rows):
    """One band of the shop logo: a frame, a band-wise stripe pattern and a run of the four command prefix
    bytes inside the image data, which a printer must take as dots, not as commands."""
    dots = width_bytes * 8
    data = bytearray()
    for r in range(rows):
        y = index * rows + r
        row = bytearray(width_bytes)
        for x in range(dots):
            on = x < 4 or x >= dots - 4 or (index == 0 and r < 4) or (index == 3 and r >= rows - 4)
            on = on or ((x // 6 + y // 3) % 7 == 0 and 16 <= x < dots - 16)
            if on:
                row[x // 8] |= 0x80 >> (x % 8)
        if r == rows // 2:
            row[10:14] = bytes([DLE, ESC, FS, GS])
        data += row
    return raster(width_bytes, rows, data)


def receipt():
    job = bytearray()
    job += cmd(ESC, "@")
    job += cmd(DLE, 0x04, 1)  # printer status, as a point-of-sale application asks before printing
    job += cmd(ESC, "t", 0)
    job += cmd(ESC, "a", 1)
    # Logo: four bands as a driver renders them, each followed by the feed that moves past it. The feeds
    # equal to the band height (24) fold into nothing; the longer ones (40, 30) leave blank rows between.
    bands = [(48, 24, 24), (48, 24, 24), (40, 24, 40), (48, 24, 30)]
    for i, (width, rows, feed) in enumerate(bands):
        job += logo_band(i, width, rows)
        job += cmd(ESC, "J", feed)
    job += cmd(ESC, "J", 12)  # the gap below the logo: a feed with no band before it
    job += cmd(ESC, "!", 0x30) + text("KQ MART\n") + cmd(ESC, "!", 0)
    job += text("123 Teheran-ro, Gangnam-gu, Seoul\n")
    job += text("Tel 02-555-0134\n")
    job += cmd(ESC, "a", 0)
    job += text("-" * 42 + "\n")
    job += text("2024-05-17 14:32       Receipt R-000451\n")
    job += text("-" * 42 + "\n")
    job += cmd(ESC, "D", 22, 30, NUL)  # tab stops for the quantity and amount columns
    job += cmd(ESC, "E", 1) + text("Item") + cmd(HT) + text("Qty") + cmd(HT) + text("  Amount\n")
    job += cmd(ESC, "E", 0)
    for name, qty, amount in [
        ("Americano", 2, 9000),
        ("Cafe latte", 1, 5000),
        ("Butter croissant", 3, 10500),
        ("Sparkling water", 1, 2500),
    ]:
        job += text(name) + cmd(HT) + text("%3d" % qty) + cmd(HT) + text("%8s\n" % "{:,}".format(amount))
    job += text("-" * 42 + "\n")
    job += text("Subtotal") + cmd(HT, HT) + text("  27,000\n")
    job += text("VAT (10%)") + cmd(HT, HT) + text("   2,455\n")
    job += cmd(ESC, "!", 0x10) + cmd(ESC, "E", 1)
    job += text("TOTAL") + cmd(HT, HT) + text("  27,000\n")
    job += cmd(ESC, "E", 0) + cmd(ESC, "!", 0)
    job += text("Card ****-****-****-4421    Approved\n")
    job += cmd(ESC, "d", 1)
    # Barcodes: height, module width, readable text below.
    job += cmd(ESC, "a", 1)
    job += cmd(GS, "h", 80) + cmd(GS, "w", 2) + cmd(GS, "H", 2)
    job += cmd(GS, "k", 4) + text("R-000451") + cmd(NUL)  # CODE39, data ended by NUL
    job += cmd(LF)
    code128 = text("{B") + text("20240517000451")
    job += cmd(GS, "k", 73, len(code128)) + code128  # CODE128, data counted by its length byte
    job += cmd(CR, LF)  # the print processor ends barcode data at CR
    job += cmd(ESC, "a", 1) + text("Thank you for shopping with us!\n") + cmd(ESC, "a", 0)
    job += cmd(ESC, "d", 3)
    job += cut_request()
    job += end_of_page()
    job += end_of_document()
    return bytes(job)


def plain(n, seed):
    """Exactly n bytes of printable text in lines of up to 42 characters, the last byte a line feed."""
    words = ("notice opening hours store policy returns exchange receipt within days of purchase "
             "items must be unused with tags attached gift cards are not refundable thank you "
             "for visiting our store members earn points on every purchase").split()
    words = words[seed:] + words[:seed]
    body = ""
    while len(body) < n:
        body += "\n".join(textwrap.wrap(" ".join(words), 41)) + "\n"
    return text(body[: n - 1] + "\n")


def text_job():
    job = bytearray()
    job += cmd(ESC, "@") + cmd(ESC, "a", 0)
    job += plain(600, 0)  # 256 + 256 + 88
    job += cmd(GS, "!", 0x11) + text("STORE NOTICE\n") + cmd(GS, "!", 0)
    job += plain(512, 5)  # exactly two batches of 256
    job += cmd(ESC, "d", 4)
    job += cmd(ESC, "i")  # cut; the print processor sends GS V 1 in its place
    return bytes(job)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, data in (("receipt.prn", receipt()), ("text.prn", text_job())):
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
