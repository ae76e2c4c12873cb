#!/usr/bin/env python3
"""Writes the seed corpus of the two fuzz targets into tests/fuzz/seeds/.

pump/    inputs of pump_fuzz: copies byte, resolution byte (0: the printer's 203), a spare byte, then the
         job. The sample jobs, the jobs of the npm encoders and the wine test job, and short jobs of one
         command family each, as the processor's tests spool them.
params/  inputs of params_fuzz: a byte whose value mod 8 is the key's length in characters, then UTF-16LE
         text: the key, then the parameter string.
kqapp_raster/  inputs of kqapp_raster_fuzz: an options byte, then a raster stream: small PWG pages of grey
         and device black, wider and narrower than the head, two pages, a page cut short, one of 1-bit
         black (which the application refuses), one that says it is far too long.

Only Python 3's standard library is needed; every run writes the same bytes.
    python3 tests/fuzz/make_seeds.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SEEDS = os.path.join(HERE, "seeds")

DLE, ESC, FS, GS = 0x10, 0x1B, 0x1C, 0x1D
NUL, CR, FF = 0x00, 0x0D, 0x0C


def b(*parts):
    out = bytearray()
    for p in parts:
        if isinstance(p, int):
            out.append(p)
        elif isinstance(p, str):
            out += p.encode("ascii")
        else:
            out += bytes(p)
    return bytes(out)


def pattern(n, seed=0):
    """Image bytes that run through every value, command prefixes included."""
    return bytes((i * 7 + seed) & 0xFF for i in range(n))


def band(width, rows, seed=0):
    return b(GS, "v0", 0, width & 0xFF, width >> 8, rows & 0xFF, rows >> 8, pattern(width * rows, seed))


def pump_input(copies, dpi, job):
    return bytes([copies, dpi, 0]) + job


def file_bytes(*path):
    with open(os.path.join(ROOT, *path), "rb") as f:
        return f.read()


# Jobs of one command family each, after the cases of the processor's own tests.
COMMAND_JOBS = {
    "plain-300": b("x" * 300),
    "dle": b("AB", DLE, 0x04, 0x01, "C", DLE, 0x04),  # the last DLE ends with the job
    "esc-fixed": b(ESC, "@", ESC, "!", 8, ESC, "W", 0, 0, 0, 0, 0x80, 1, 0x40, 2, ESC, "\\", 1, 0,
                   ESC, "p", 0, 25, 250, ESC, "c", 3, 1, ESC, "*", 0),
    "esc-user-chars": b(ESC, "&", 3, 0x41, 0x43, 2, pattern(6), 0, 1, pattern(3, 9), "A", ESC, "&", 3, 0x42, 0x41),
    "esc-tabs": b(ESC, "D", 8, 16, 24, NUL, "\tA\tB", ESC, "D", NUL, ESC, "D", bytes(range(1, 255)) * 3),
    "esc-feeds": b(band(72, 24), ESC, "J", 24, band(48, 24, 3), ESC, "J", 60, band(8, 2), ESC, "J", 25,
                   ESC, "J", 0, ESC, "J", 30, "after"),
    "esc-directives": b(ESC, "P", "g", 3, ESC, "P", "e", 1, ESC, "P", "g", 18, band(16, 4), ESC, "P", "e", 0,
                        ESC, "P", "b", 1, 2, ESC, "P", "r", 7, ESC, "P", "e", 9, ESC, "P", "e", 1, ESC, "P", "x"),
    "esc-cut": b("line\n", ESC, "i", ESC, "i"),
    "fs": b(FS, "p", 1, 0, FS, "q", 0, FS, "q", 2, 2, 0, 3, 0, pattern(48), 1, 0, 1, 0, pattern(8, 5), FS, "&"),
    "gs-star": b(GS, "*", 2, 3, pattern(48), GS, "/", 0, GS, "*", 0, 9, GS, "*", 255, 255, pattern(40)),
    "gs-fixed": b(GS, "!", 0x11, GS, "V", "A", "x", GS, "V", "B", 3, GS, "V", 0, GS, "^", 1, 2, 3, GS, ":",
                  GS, "L", 1, 2, GS, "("),
    "gs-barcodes": b(GS, "k", 4, "123", NUL, GS, "k", 4, "123", CR, GS, "k", 0x49, 9, "123", CR,
                     GS, "k", 0x49, 0, "{B12", NUL, GS, "k", 4, "1", ESC, "E", 1, "2", ESC, "$", 1, 2, "3", NUL,
                     GS, "k", 0x41, 2, "12", FF, GS, "k", 4, "1", ESC, "@", "2", NUL),
    "gs-barcode-long": b(GS, "k", 0x45, 1, b"7" * 300, NUL, GS, "k", 2, b"9" * 600, NUL),
    "gs-k-bad-mode": b(GS, "k", 7, "12", NUL),
    "raster-pages": b(band(48, 24), band(72, 8, 1), ESC, "P", "e", 0, band(0, 5), band(3, 0), ESC, "J", 10,
                      ESC, "P", "e", 0),
    "raster-cut-short": b(band(4, 2), GS, "v0", 0, 10, 0, 10, 0, pattern(37)),
    # enough feeds after small bands to make a page taller than one GS v 0 image can say (at 255 dpi)
    "tall-page": b(b(band(1, 1), ESC, "J", 255) * 200, ESC, "P", "e", 0),
    "prefix-end": b("text", ESC),
}


PARAMS = [
    "COPIES=3;", "copies=3;", "COPIES=3", "COPIES= 3;", "COPIES=x;COPIES=2;", "COPIESX=4;", "COPIES=;",
    "COPIES=-2;", "COPIES=0;", "", "COPIES =3;", "COPIES=3 ;", "COPIES X=4;", "COPIES=3 4;",
    "COPIES=99999999999;", "A=1;B=2;COPIES=5;", "\tCOPIES\t=\t7\t;", "=3;COPIES=4;", "COPIES==3;COPIES=6;",
]


def params_input(key, text):
    return bytes([len(key)]) + (key + text).encode("utf-16-le")


def write(folder, name, data):
    path = os.path.join(SEEDS, folder, name)
    with open(path, "wb") as f:
        f.write(data)


def pwg_page(width, height, rows, space=18, bits=8):
    """A PWG raster page header and its lines (each row given as bytes, run-length coded pixel by pixel)."""
    header = bytearray(1796)
    header[0:9] = b"PwgRaster"
    for at, v in ((276, 203), (280, 203), (372, width), (376, height), (384, bits), (388, bits),
                  (392, (width * bits + 7) // 8), (400, space), (420, 1), (452, 1)):
        header[at:at + 4] = struct.pack(">I", v)
    out = bytearray(header)
    for row in rows:
        out.append(0)  # the line is not repeated
        for value in row:
            out += bytes([0, value])  # each pixel a run of one
    return bytes(out)


def kqapp_raster_seeds():
    shutil.rmtree(os.path.join(SEEDS, "kqapp_raster"), ignore_errors=True)
    os.makedirs(os.path.join(SEEDS, "kqapp_raster"))
    grey = [[(x * 16 + y * 8) & 0xFF for x in range(24)] for y in range(6)]
    text = [[0 if (x // 3 + y) % 2 else 255 for x in range(40)] for y in range(4)]
    write("kqapp_raster", "grey-diffused", b"\x01RaS2" + pwg_page(24, 6, grey))
    write("kqapp_raster", "text-threshold-58mm", b"\x04RaS2" + pwg_page(40, 4, text))
    write("kqapp_raster", "black-device", b"\x0aRaS2" + pwg_page(24, 6, grey, space=3))
    write("kqapp_raster", "two-pages", b"\x02RaS2" + pwg_page(24, 6, grey) + pwg_page(40, 4, text))
    write("kqapp_raster", "cut-short", b"\x00RaS2" + pwg_page(24, 6, grey)[:1796 + 30])
    write("kqapp_raster", "one-bit", b"\x00RaS2" + pwg_page(64, 2, [[0xF0] * 8, [0x0F] * 8], space=3, bits=1))
    write("kqapp_raster", "too-long", b"\x00RaS2" + pwg_page(24, 1 << 20, grey[:1]))
    wide = [[(x * 3) & 0xFF for x in range(700)]]
    write("kqapp_raster", "wider-than-the-head", b"\x02RaS2" + pwg_page(700, 1, wide))


def main():
    kqapp_raster_seeds()
    for folder in ("pump", "params"):
        shutil.rmtree(os.path.join(SEEDS, folder), ignore_errors=True)
        os.makedirs(os.path.join(SEEDS, folder))

    for name in sorted(os.listdir(os.path.join(ROOT, "samples"))):
        if name.endswith(".prn"):
            job = file_bytes("samples", name)
            write("pump", name[:-4] + "-1copy", pump_input(1, 0, job))
            write("pump", name[:-4] + "-3copies-100dpi", pump_input(3, 100, job))
    write("pump", "text-0copies", pump_input(0, 0, file_bytes("samples", "text.prn")))
    for name in sorted(os.listdir(os.path.join(ROOT, "tests", "clients", "jobs"))):
        if name.endswith(".prn"):
            job = file_bytes("tests", "clients", "jobs", name)
            write("pump", name[:-4] + "-2copies", pump_input(2, 0, job))
    write("pump", "wine-page-bands", pump_input(1, 0, file_bytes("tests", "wine", "jobs", "page-bands.prn")))
    for name, job in COMMAND_JOBS.items():
        write("pump", name, pump_input(1 if name != "tall-page" else 2, 255 if name == "tall-page" else 0, job))
    write("pump", "empty", pump_input(1, 0, b""))

    for i, text in enumerate(PARAMS):
        write("params", "copies-%02d" % i, params_input("COPIES", text))
    write("params", "other-key", params_input("RES", "COPIES=2;RES=300;"))
    write("params", "empty-key", params_input("", "X=1;"))


if __name__ == "__main__":
    main()
