#!/usr/bin/env python3
"""The delta benchmark's generated pairs, made once into the work folder:
data.old/data.new, 24 MiB of mixed data (64 KiB blocks alternating random and text-like bytes)
with 1 % of its bytes changed in runs of 16 to 512 bytes at scattered places; text.old/text.new,
the project's sources joined into one text file, with a few lines edited."""
import os
import random
import sys

work, src = sys.argv[1], sys.argv[2]
rng = random.Random(27)

if not os.path.exists(os.path.join(work, "data.new")):
    words = [b"update", b"manifest", b"package", b"record", b"value", b"folder", b"install", b"delta"]
    blocks = []
    for i in range(24 * 16):
        if i % 2 == 0:
            blocks.append(rng.randbytes(65536))
        else:
            text = b" ".join(rng.choice(words) + str(rng.randrange(10000)).encode() for _ in range(12000))
            blocks.append(text[:65536].ljust(65536, b"\n"))
    old = bytearray(b"".join(blocks))
    new = bytearray(old)
    changed = 0
    while changed < len(new) // 100:
        n = rng.randrange(16, 513)
        at = rng.randrange(len(new) - n)
        new[at:at + n] = rng.randbytes(n)
        changed += n
    open(os.path.join(work, "data.old"), "wb").write(old)
    open(os.path.join(work, "data.new"), "wb").write(new)

if not os.path.exists(os.path.join(work, "text.new")):
    lines = []
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(folder, name), "rb") as f:
                    lines.extend(f.read().splitlines(keepends=True))
    old = b"".join(lines)
    for _ in range(5):
        k = rng.randrange(len(lines))
        lines[k] = lines[k].rstrip(b"\n") + b"  // edited\n"
    open(os.path.join(work, "text.old"), "wb").write(old)
    open(os.path.join(work, "text.new"), "wb").write(b"".join(lines))
