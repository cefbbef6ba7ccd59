#!/usr/bin/env python3
"""compress and decompress against Python's zlib and gzip modules.

Usage: compression-interop.py KIV

Python makes data of several sizes and kinds and streams of them in every
shape its coder writes (stored, fixed and dynamic blocks, several blocks,
small windows, gzip members with a file name); kiv must decompress each to
the data. kiv compresses the same data with its three methods, and Python
must decompress that to the data. Damaged streams (cut short, checksum or
size changed, preset dictionary) must fail with invalid-data.
"""
import gzip
import io
import os
import random
import subprocess
import sys
import tempfile
import zlib


def kinds(n, seed):
    rng = random.Random(seed)
    words = [b"the ", b"quick ", b"brown ", b"fox ", b"jumps\n", b"over ", b"lazy ", b"dog. "]
    text = b"".join(rng.choice(words) for _ in range(n // 3 + 1))[:n]
    return {
        "zeros": bytes(n),
        "random": bytes(rng.getrandbits(8) for _ in range(n)),
        "text": text,
        "four-letters": bytes(rng.choice(b"acgt") for _ in range(n)),
        "records": b"".join(i.to_bytes(4, "little") + b"\x00\xff" for i in range(n // 6 + 1))[:n],
    }


def raw(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=-15, chunks=1):
    co = zlib.compressobj(level, zlib.DEFLATED, wbits, 8, strategy)
    step = max(1, len(data) // chunks)
    out = b""
    for i in range(0, len(data), step):
        out += co.compress(data[i:i + step])
        if chunks > 1:
            out += co.flush(zlib.Z_SYNC_FLUSH)  # ends with an empty stored block
    return out + co.flush()


def gzip_named(data):
    buf = io.BytesIO()
    with gzip.GzipFile(filename="data.bin", mode="wb", fileobj=buf, mtime=0) as f:
        f.write(data)
    return buf.getvalue()


def streams(data):
    """(name, method, stream) that must decompress to data."""
    yield "zlib-level-0", "zlib", zlib.compress(data, 0)
    yield "zlib-level-1", "zlib", zlib.compress(data, 1)
    yield "zlib-level-9", "zlib", zlib.compress(data, 9)
    yield "zlib-window-512", "zlib", raw(data, 9, wbits=9)
    yield "zlib-huffman-only", "zlib", raw(data, 6, zlib.Z_HUFFMAN_ONLY, wbits=15)
    yield "zlib-fixed", "zlib", raw(data, 6, zlib.Z_FIXED, wbits=15)
    yield "deflate-rle", "deflate", raw(data, 6, zlib.Z_RLE)
    yield "deflate-flushed", "deflate", raw(data, 6, chunks=5)
    yield "gzip", "gzip", gzip.compress(data, mtime=0)
    yield "gzip-named", "gzip", gzip_named(data)


def damaged(data):
    """(name, method, stream) that must be refused."""
    z = zlib.compress(data, 6)
    g = gzip.compress(data, mtime=0)
    co = zlib.compressobj(zdict=b"the quick brown fox")
    yield "zlib-cut", "zlib", z[:-5]
    yield "zlib-adler", "zlib", z[:-1] + bytes([z[-1] ^ 1])
    yield "zlib-dictionary", "zlib", co.compress(data) + co.flush()
    yield "gzip-cut", "gzip", g[:-9]
    yield "gzip-crc", "gzip", g[:-8] + bytes([g[-8] ^ 1]) + g[-7:]
    yield "gzip-size", "gzip", g[:-4] + (len(data) + 1).to_bytes(4, "little")
    yield "deflate-cut", "deflate", raw(data)[:-1]


def kiv_str(path):
    return "%" + path


def main():
    kiv = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        cases = []  # (label, file, method, expected answer, data file)
        datas = {}
        for size in [0, 1, 2, 3, 100, 4096, 65543, 300000]:
            for kind, data in kinds(size, size).items():
                if data[:3] == b"\x1f\x8b\x08":
                    continue  # compress passes gzip members through
                key = "%s-%d" % (kind, size)
                datas[key] = data
                with open(os.path.join(tmp, key + ".orig"), "wb") as f:
                    f.write(data)
                for name, method, stream in streams(data):
                    cases.append((key, name, method, "ok", stream))
                if size >= 100:
                    for name, method, stream in damaged(data):
                        cases.append((key, name, method, "invalid-data", stream))
        lines = ["Kiv []",
                 "check: func [f m o] [r: try [decompress read/binary f m] "
                 "either error? r [form r/id] [either r = o [\"ok\"] [\"differs\"]]]"]
        for i, (key, name, method, _, stream) in enumerate(cases):
            path = os.path.join(tmp, "c%d" % i)
            with open(path, "wb") as f:
                f.write(stream)
            lines.append("print [%s check %s '%s read/binary %s]" % (
                '"c%d"' % i, kiv_str(path), method, kiv_str(os.path.join(tmp, key + ".orig"))))
        for key in datas:
            orig = kiv_str(os.path.join(tmp, key + ".orig"))
            for method in ["zlib", "deflate", "gzip"]:
                out = kiv_str(os.path.join(tmp, "%s.kiv-%s" % (key, method)))
                lines.append("write/binary %s compress read/binary %s '%s" % (out, orig, method))
        script = os.path.join(tmp, "run.kiv")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        run = subprocess.run([kiv, script], capture_output=True, text=True, timeout=600)
        answers = dict(line.split(" ", 1) for line in run.stdout.splitlines() if line.startswith("c"))
        for i, (key, name, method, expected, _) in enumerate(cases):
            got = answers.get("c%d" % i, "no answer")
            if got != expected:
                failures.append("decompress %s %s: %s, expected %s" % (key, name, got, expected))
        decoders = {"zlib": zlib.decompress, "gzip": gzip.decompress,
                    "deflate": lambda b: zlib.decompress(b, -15)}
        for key, data in datas.items():
            for method, decode in decoders.items():
                try:
                    with open(os.path.join(tmp, "%s.kiv-%s" % (key, method)), "rb") as f:
                        ok = decode(f.read()) == data
                except Exception as e:  # noqa: BLE001 - any failure is reported
                    ok = False
                    failures.append("python refuses %s %s: %s" % (key, method, e))
                if not ok:
                    failures.append("compress %s %s: differs" % (key, method))
        if run.returncode != 0 or run.stderr:
            failures.append("kiv ended %d: %s" % (run.returncode, run.stderr[:500]))
    for f in failures[:40]:
        print(f)
    print("%d cases, %d failures" % (len(cases) + 3 * len(datas), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
