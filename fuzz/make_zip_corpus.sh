#!/usr/bin/env bash
# Seeds the zip fuzzer with small archives from the standard tools (stored, deflated,
# descriptors, Zip64, stub, comment, UTF-8 names).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_zip_corpus.sh OUT_DIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/d"
printf 'hello hello hello\n' > "$work/src/a.txt"
seq 1 200 > "$work/src/d/n.txt"
: > "$work/src/empty"
cd "$work/src"
zip -qr "$out/deflated.zip" .
zip -qr0 "$out/stored.zip" .
zip -qr -fd "$out/descriptors.zip" .
zip -qr -fz "$out/zip64.zip" .
printf 'comment' | zip -qz "$out/deflated.zip"
{ printf 'STUBSTUB'; cat "$out/stored.zip"; } > "$out/stub.zip"
python3 "$here/../tests/zip/make_archives.py" streamed . - > "$out/python-streamed.zip"
python3 "$here/../tests/zip/make_archives.py" utf8names . "$out/utf8.zip"
python3 "$here/../tests/zip/make_archives.py" dosnames . "$out/dos.zip"
bsdtar -a -cf "$work/b.zip" . && mv "$work/b.zip" "$out/bsdtar.zip"
