#!/usr/bin/env python3
"""Builds test archives with Python's zipfile: make_archives.py MODE SRC_DIR OUT_ZIP.

Modes: deflated, stored, streamed (written to an unseekable pipe, so every entry carries a
data descriptor), zip64 (Zip64 records forced), empty, dosnames (an MS-DOS archive whose
names are in code page 437), utf8names (non-ASCII names, flag bit 11 set), wrapped (SRC_DIR is a
count N: N small entries whose end record holds N modulo 65536 and no Zip64 records, as writers
without Zip64 support leave them), dosfolder (a folder entry "dir/" whose MS-DOS attributes are
only the archive bit, then a file inside it)."""
import os
import sys
import zipfile


def walk(src):
    for root, dirs, files in os.walk(src):
        dirs.sort()
        rel = os.path.relpath(root, src)
        if rel != ".":
            yield rel.replace(os.sep, "/") + "/", None
        for name in sorted(files):
            path = os.path.join(root, name)
            yield os.path.relpath(path, src).replace(os.sep, "/"), path


def main():
    mode, src, out = sys.argv[1], sys.argv[2], sys.argv[3]
    if mode == "empty":
        zipfile.ZipFile(out, "w").close()
        return
    if mode == "wrapped":
        count = int(src)
        with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as zf:
            for i in range(count):
                zf.writestr("f/%06d.txt" % i, b"%d\n" % i)
        data = open(out, "rb").read()
        end = data.rindex(b"PK\x05\x06")
        record = bytearray(data[end:])
        record[8:10] = record[10:12] = (count % 65536).to_bytes(2, "little")
        # Drop the Zip64 end record and its locator, which sit right before the end record.
        start = data.rfind(b"PK\x06\x06", 0, end)
        open(out, "wb").write(data[:start if start >= 0 else end] + bytes(record))
        return
    if mode == "dosfolder":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            folder = zipfile.ZipInfo("dir/", date_time=(2024, 5, 6, 7, 8, 10))
            folder.create_system = 0
            folder.external_attr = 0x20
            zf.writestr(folder, b"")
            zf.writestr("dir/inside.txt", b"inside\n")
        return
    if mode == "dosnames":
        # zipfile writes non-ASCII names as UTF-8, so the CP437 bytes are patched in afterwards
        # over an ASCII placeholder of the same length, in both headers.
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            info = zipfile.ZipInfo("caf#.txt", date_time=(2024, 5, 6, 7, 8, 10))
            info.create_system = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, b"dos name\r\n" * 10)
        data = open(out, "rb").read().replace(b"caf#.txt", "café.txt".encode("cp437"))
        open(out, "wb").write(data)
        return
    method = zipfile.ZIP_STORED if mode == "stored" else zipfile.ZIP_DEFLATED
    if mode == "streamed":
        target = sys.stdout.buffer if out == "-" else open(out, "wb")
    else:
        target = out
    with zipfile.ZipFile(target, "w", method) as zf:
        if mode == "utf8names":
            zf.writestr("한글/파일.txt", "유니코드 이름\n".encode("utf-8"))
            zf.writestr("Grüße.txt", b"umlaut\n")
            return
        for name, path in walk(src):
            if path is None:
                zf.writestr(name, b"")
                continue
            if mode == "zip64":
                with open(path, "rb") as f, zf.open(name, "w", force_zip64=True) as w:
                    w.write(f.read())
            else:
                zf.write(path, name)


if __name__ == "__main__":
    main()
