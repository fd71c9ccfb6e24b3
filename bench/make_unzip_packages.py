#!/usr/bin/env python3
"""Makes the two 512 MiB packages of the unzip benchmark with Info-ZIP zip, once per folder:
large.zip (one entry) and small.zip (5,000 entries in 50 folders). The data alternates
64 KiB blocks of incompressible bytes and of text-like compressible bytes."""
import os
import random
import shutil
import subprocess
import sys

TOTAL = 512 << 20
BLOCK = 64 << 10


def pool(rng):
    words = [b"update", b"package", b"orvo", b"manifest", b"version", b"file", b"folder", b"value", b"entry"]
    lines = []
    size = 0
    while size < (1 << 20):
        line = b" ".join(rng.choice(words) for _ in range(6)) + b" %d\n" % rng.randrange(100000)
        lines.append(line)
        size += len(line)
    return b"".join(lines)


def mixed(rng, text, n):
    out = bytearray()
    while len(out) < n:
        if rng.random() < 0.5:
            out += rng.randbytes(BLOCK)
        else:
            start = rng.randrange(len(text) - BLOCK)
            out += text[start:start + BLOCK]
    return bytes(out[:n])


def make(work, shape):
    target = os.path.join(work, shape + ".zip")
    if os.path.exists(target):
        return
    rng = random.Random(2026 if shape == "large" else 5000)
    text = pool(rng)
    src = os.path.join(work, "src-" + shape)
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    if shape == "large":
        with open(os.path.join(src, "payload.bin"), "wb") as f:
            left = TOTAL
            while left:
                n = min(left, 8 << 20)
                f.write(mixed(rng, text, n))
                left -= n
    else:
        count = 5000
        mean = TOTAL // count
        for i in range(count):
            folder = os.path.join(src, "dir%02d" % (i % 50))
            os.makedirs(folder, exist_ok=True)
            size = rng.randrange(mean // 16, 2 * mean - mean // 16)
            with open(os.path.join(folder, "file%04d.dat" % i), "wb") as f:
                f.write(mixed(rng, text, size))
    tmp = target + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    subprocess.run(["zip", "-qr", tmp, "."], cwd=src, check=True)
    os.rename(tmp, target)
    shutil.rmtree(src)


def main():
    work = sys.argv[1]
    os.makedirs(work, exist_ok=True)
    for shape in ("large", "small"):
        make(work, shape)


if __name__ == "__main__":
    main()
