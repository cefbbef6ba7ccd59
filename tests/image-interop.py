#!/usr/bin/env python3
"""Image files between Python and kiv.

Usage: image-interop.py KIV

Python writes PNG, BMP, TIFF and GIF files byte by byte (zlib and struct
only) in several layouts; kiv must load each to the pixels Python meant.
kiv saves an image as PNG and as BMP, and Python's own readers must find
the same pixels in them. Everything kiv does runs in one process, so the
check stays quick under KIV_GC_STRESS.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

W, H = 5, 3


def pixels():
    """(r, g, b, a) rows: colours that differ per pixel, some transparency."""
    rows = []
    for y in range(H):
        rows.append([((x * 50 + y * 7) % 256, (y * 90 + 3) % 256, (x * 13 + y * 31) % 256,
                      255 if (x + y) % 3 else 60 * y) for x in range(W)])
    return rows


def argb(rows):
    """The bytes kiv's argb field gives: B, G, R, A per pixel."""
    return bytes(v for row in rows for (r, g, b, a) in row for v in (b, g, r, a))


def opaque(rows):
    return [[(r, g, b, 255) for (r, g, b, a) in row] for row in rows]


# --- PNG --------------------------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colour_type, depth, raw_rows, extra=b"", interlace=0):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace)
    data = zlib.compress(b"".join(b"\x00" + r for r in raw_rows))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def png_cases(rows):
    rgba = [bytes(v for p in row for v in p) for row in rows]
    rgb = [bytes(v for p in row for v in p[:3]) for row in rows]
    grey_rows = [[(v, v, v, 255) for v in (x * 60 for x in range(W))] for _ in range(H)]
    grey = [bytes(p[0] for p in row) for row in grey_rows]
    # A palette image whose entries are its pixels, with per-entry alpha.
    flat = [p for row in rows for p in row]
    plte = b"".join(bytes(p[:3]) for p in flat)
    trns = bytes(p[3] for p in flat)
    indexed = [bytes(range(y * W, y * W + W)) for y in range(H)]
    yield "png-rgba.png", png(W, H, 6, 8, rgba), rows
    yield "png-rgb.png", png(W, H, 2, 8, rgb), opaque(rows)
    yield "png-grey.png", png(W, H, 0, 8, grey), grey_rows
    yield "png-palette.png", png(W, H, 3, 8, indexed, chunk(b"PLTE", plte) + chunk(b"tRNS", trns)), rows
    rgba16 = [bytes(v for p in row for c in p for v in (c, c)) for row in rows]
    # 16-bit samples come through premultiplied: a fully transparent pixel
    # keeps no colour.
    cleared = [[p if p[3] else (0, 0, 0, 0) for p in row] for row in rows]
    yield "png-rgba16.png", png(W, H, 6, 16, rgba16), cleared


def unfilter(raw, width, height, bpp):
    """The rows of a non-interlaced PNG's inflated data."""
    stride = width * bpp
    out, prev, at = [], bytes(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out.append(bytes(line))
        prev = line
    return out


def read_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "PNG signature"
    at, idat, header = 8, b"", None
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        assert struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0] == zlib.crc32(kind + body)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    assert depth == 8 and colour_type in (2, 6) and interlace == 0, header
    bpp = 4 if colour_type == 6 else 3
    lines = unfilter(zlib.decompress(idat), width, height, bpp)
    return [[tuple(line[x * bpp:x * bpp + bpp]) + (() if bpp == 4 else (255,)) for x in range(width)]
            for line in lines]


# --- BMP --------------------------------------------------------------------

def bmp(rows, bits, top_down=False):
    pad = lambda b: b + bytes(-len(b) % 4)
    body = b""
    for row in (rows if top_down else rows[::-1]):
        if bits == 24:
            body += pad(bytes(v for (r, g, b, a) in row for v in (b, g, r)))
        else:
            body += bytes(v for (r, g, b, a) in row for v in (b, g, r, a))
    if bits == 32:  # a V4-sized header with an alpha mask
        info = struct.pack("<IiiHHIIiiII", 108, W, -H if top_down else H, 1, 32, 3, len(body), 0, 0, 0, 0)
        info += struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000) + b"BGRs" + bytes(48)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, W, -H if top_down else H, 1, 24, 0, len(body), 0, 0, 0, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(body), 0, 0, 14 + len(info))
    return head + info + body


def read_bmp(data):
    assert data[:2] == b"BM"
    (offset,) = struct.unpack("<I", data[10:14])
    size, width, height, _, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    assert bits == 32 and compression in (0, 3), (bits, compression)
    masks = struct.unpack("<IIII", data[54:70]) if size >= 56 else (0xFF0000, 0xFF00, 0xFF, 0)

    def channel(px, mask):
        if not mask:
            return 255
        shift = (mask & -mask).bit_length() - 1
        return ((px & mask) >> shift) * 255 // (mask >> shift)

    rows = []
    for y in range(abs(height)):
        line = data[offset + y * width * 4:offset + (y + 1) * width * 4]
        rows.append([tuple(channel(struct.unpack("<I", line[x * 4:x * 4 + 4])[0], m) for m in masks)
                     for x in range(width)])
    return rows if height < 0 else rows[::-1]


# --- TIFF -------------------------------------------------------------------

def tiff(rows, alpha, big_endian):
    e = ">" if big_endian else "<"
    spp = 4 if alpha else 3
    body = bytes(v for row in rows for p in row for v in p[:spp])
    entries = [(256, 3, 1, W), (257, 3, 1, H), (258, 3, spp, None), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, 1, 8), (277, 3, 1, spp), (278, 3, 1, H), (279, 4, 1, len(body)), (284, 3, 1, 1)]
    if alpha:
        entries.append((338, 3, 1, 2))
    ifd_at = 8 + len(body)
    extra_at = ifd_at + 2 + 12 * len(entries) + 4
    out_ifd, extra = struct.pack(e + "H", len(entries)), b""
    for tag, kind, count, value in entries:
        if value is None:  # bits per sample: one short per sample, stored apart
            field = struct.pack(e + "I", extra_at + len(extra))
            extra += struct.pack(e + "H" * spp, *([8] * spp))
        elif kind == 3:
            field = struct.pack(e + "HH", value, 0)
        else:
            field = struct.pack(e + "I", value)
        out_ifd += struct.pack(e + "HHI", tag, kind, count) + field
    out_ifd += struct.pack(e + "I", 0)
    magic = b"MM\x00\x2a" if big_endian else b"II\x2a\x00"
    return magic + struct.pack(e + "I", ifd_at) + body + out_ifd + extra


# --- GIF --------------------------------------------------------------------

def gif(rows, interlace):
    """Every pixel its own palette entry; LZW codes written one literal at a
    time, with a clear code often enough that the code size never grows."""
    flat = [p for row in rows for p in row]
    colours = 16
    palette = b"".join(bytes(p[:3]) for p in flat) + bytes(3 * (colours - len(flat)))
    order = list(range(H))
    if interlace:
        order = [y for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(start, H, step)]
    indexes = [y * W + x for y in order for x in range(W)]
    min_code = 4
    clear, end, width = 1 << min_code, (1 << min_code) + 1, min_code + 1
    codes = []
    for i, index in enumerate(indexes):
        if i % 8 == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits = acc = 0
    packed = bytearray()
    for code in codes:
        acc |= code << bits
        bits += width
        while bits >= 8:
            packed.append(acc & 255)
            acc >>= 8
            bits -= 8
    if bits:
        packed.append(acc)
    blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255] for i in range(0, len(packed), 255))
    # Entry 3 is transparent.
    gce = b"\x21\xf9\x04\x01\x00\x00\x03\x00"
    return (b"GIF89a" + struct.pack("<HHBBB", W, H, 0xF3, 0, 0) + palette + gce +
            b"\x2c" + struct.pack("<HHHHB", 0, 0, W, H, 0x40 if interlace else 0) +
            bytes([min_code]) + blocks + b"\x00\x3b")


def gif_expected(rows):
    flat = [(r, g, b, 255) for row in rows for (r, g, b, a) in row]
    flat[3] = (0, 0, 0, 0)
    return [flat[y * W:(y + 1) * W] for y in range(H)]


# --- the run ----------------------------------------------------------------

def main():
    kiv = os.path.abspath(sys.argv[1])
    rows = pixels()
    cases = list(png_cases(rows))
    cases += [("bmp-24.bmp", bmp(rows, 24), opaque(rows)),
              ("bmp-24-top-down.bmp", bmp(rows, 24, True), opaque(rows)),
              ("bmp-32.bmp", bmp(rows, 32), rows),
              ("tiff-rgb-le.tif", tiff(rows, False, False), opaque(rows)),
              ("tiff-rgba-be.tif", tiff(rows, True, True), rows),
              ("gif.gif", gif(rows, False), gif_expected(rows)),
              ("gif-interlaced.gif", gif(rows, True), gif_expected(rows))]
    failures = []
    with tempfile.TemporaryDirectory(prefix="kiv-image-") as tmp:
        for name, data, _ in cases:
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(data)
        rgb = bytes(v for row in rows for p in row for v in p[:3]).hex().upper()
        alpha = bytes(255 - p[3] for row in rows for p in row).hex().upper()
        script = ["Kiv []"]
        script += [f'i: load %{name} print [{name!r} i/size mold/flat i/argb]'.replace("'", '"')
                   for name, _, _ in cases]
        script.append(f"i: make image! [{W}x{H} #{{{rgb}}} #{{{alpha}}}] save %out.png i save %out.bmp i")
        with open(os.path.join(tmp, "run.kiv"), "w") as f:
            f.write("\n".join(script) + "\n")
        run = subprocess.run([kiv, "run.kiv"], cwd=tmp, capture_output=True, timeout=600)
        lines = run.stdout.decode("utf-8", "replace").splitlines()
        for (name, _, expected), line in zip(cases, lines + [""] * len(cases)):
            want = f"{name} {W}x{H} #{{{argb(expected).hex().upper()}}}"
            if line != want:
                failures.append(f"{name}: kiv printed {line!r}, expected {want!r}")
        if run.returncode != 0:
            failures.append(f"kiv ended with {run.returncode}: {run.stderr.decode(errors='replace')[-500:]}")
        for name, reader in (("out.png", read_png), ("out.bmp", read_bmp)):
            try:
                with open(os.path.join(tmp, name), "rb") as f:
                    got = reader(f.read())
                if got != rows:
                    failures.append(f"{name}: Python read {got}, expected {rows}")
            except (OSError, AssertionError, struct.error, zlib.error) as e:
                failures.append(f"{name}: {e!r}")
    for f in failures:
        print("FAIL", f)
    print(f"{len(cases) + 2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
