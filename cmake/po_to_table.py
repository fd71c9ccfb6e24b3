#!/usr/bin/env python3
"""Turns a gettext catalog into a C++ table of wide literals, for builds without gettext."""
import sys


def entries(path):
    msgid = msgstr = None
    field = None
    fuzzy = False
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if line.startswith("#,") and "fuzzy" in line:
                fuzzy = True
            if not line or line.startswith("#"):
                if msgstr is not None:
                    yield msgid, msgstr, fuzzy
                    msgid = msgstr = None
                    fuzzy = False
                continue
            if line.startswith("msgid "):
                if msgstr is not None:
                    yield msgid, msgstr, fuzzy
                    fuzzy = False
                msgid, msgstr, field = line[6:].strip()[1:-1], None, "id"
            elif line.startswith("msgstr "):
                msgstr, field = line[7:].strip()[1:-1], "str"
            elif line.startswith('"'):
                if field == "id":
                    msgid += line[1:-1]
                else:
                    msgstr += line[1:-1]
    if msgstr is not None:
        yield msgid, msgstr, fuzzy


def main():
    po, out, name = sys.argv[1], sys.argv[2], sys.argv[3]
    rows = [(i, s) for i, s, fuzzy in entries(po) if i and s and not fuzzy]
    with open(out, "w", encoding="utf-8") as f:
        f.write("// Generated from %s; do not edit.\n" % po.rsplit("/", 1)[-1])
        f.write("const CatalogEntry %s[] = {\n" % name)
        for i, s in rows:
            f.write('    {L"%s", L"%s"},\n' % (i, s))
        f.write("};\n")


main()
