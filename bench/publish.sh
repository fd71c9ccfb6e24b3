#!/usr/bin/env bash
# Publishing the application of the update benchmark (1,000 files, 200 MiB in 14 folders) with
# orvo-publish (Release): one zip package per file, SHA-256 of every file, the manifest, signed.
# The peer is a shell baseline doing the packing and hashing with standard tools in the same
# run: one `zip -X` per file and one `sha256sum` over all files (no manifest, no signature).
# Each side runs ORVO_BENCH_RUNS times (default 5), alternating, into a fresh folder after a
# sync; medians count. Ends with: publish: ratio R (target 1.0), peak RSS M MiB — R is the
# publisher's median wall time over the baseline's; M is the publisher's largest peak RSS.
set -euo pipefail
bench_name=publish
source "$(dirname "$0")/update_world.bash"
bench_prepare orvo-publish >/dev/null
publisher=$build/tools/orvo-publish/orvo-publish

# The build folder: the published files unpacked into their folders (once).
src=$work/publish-src
if [ ! -f "$src.done" ]; then
  echo "publish: unpacking the application into $src (once)"
  rm -rf "$src"
  python3 - "$work" "$src" <<'PY'
import json, os, subprocess, sys
work, src = sys.argv[1], sys.argv[2]
for it in json.load(open(os.path.join(work, "app.json"))):
    rel = it["folder"].replace("_INSTALL", "").replace("\\", "/").lstrip("/")
    dest = os.path.join(src, rel)
    os.makedirs(dest, exist_ok=True)
    subprocess.run(["unzip", "-qq", "-o", os.path.join(work, "www") + it["path"], "-d", dest], check=True)
PY
  touch "$src.done"
fi
[ "$(find "$src" -type f | wc -l)" = 1000 ] || { echo "publish: the build folder is incomplete" >&2; exit 1; }

cat >"$work/release.toml" <<'EOF2'
[release]
base_url = "http://127.0.0.1/app"
[install]
root = "HLM"
key = 'Software\OrvoBench\App'
folder = '_PROGRAMFILES\OrvoBench\App'
EOF2
[ -f "$work/bench.key" ] || "$publisher" keygen --out "$work/bench" >/dev/null

cat >"$work/publish-baseline.sh" <<'EOF2'
#!/usr/bin/env bash
# zip and sha256sum: the standard tools doing the publisher's packing and hashing.
set -euo pipefail
src=$1 out=$2
mkdir -p "$out/pkg"
cd "$src"
i=0
find . -type f | sort | while read -r f; do
  i=$((i + 1))
  (cd "$(dirname "$f")" && zip -q -X "$out/pkg/$i.zip" "$(basename "$f")")
done
find . -type f -print0 | sort -z | xargs -0 sha256sum >"$out/sums"
EOF2
chmod +x "$work/publish-baseline.sh"

ours=(); theirs=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/pub-base" "$work/pub-ours"
  sync
  read -r secs _ rc < <(python3 "$helper" run "$work/publish-baseline.log" -- "$work/publish-baseline.sh" "$src" "$work/pub-base")
  [ "$rc" = 0 ] || { echo "publish: the baseline failed: $(cat "$work/publish-baseline.log")" >&2; exit 1; }
  theirs+=("$secs")

  rm -rf "$work/pub-base"
  sync
  read -r secs kib rc < <(python3 "$helper" run "$work/publish.log" -- "$publisher" build --config "$work/release.toml" \
    --from "$src" --out "$work/pub-ours" --key "$work/bench.key" --first-release)
  [ "$rc" = 0 ] || { echo "publish: orvo-publish failed: $(cat "$work/publish.log")" >&2; exit 1; }
  [ "$(ls "$work/pub-ours/pkg" | wc -l)" = 1000 ] || { echo "publish: wrong package count" >&2; exit 1; }
  ours+=("$secs")
  ((kib > peak_kib)) && peak_kib=$kib
  echo "run $((r + 1)): orvo-publish ${ours[-1]} s, zip + sha256sum ${theirs[-1]} s"
done
rm -rf "$work/pub-base" "$work/pub-ours"

mo=$(python3 "$helper" median "${ours[@]}")
mt=$(python3 "$helper" median "${theirs[@]}")
echo "median: orvo-publish $mo s, zip per file + sha256sum $mt s ($(nproc) cores)"
python3 -c "import sys; print('publish: ratio %.2f (target 1.0), peak RSS %.0f MiB' % (float(sys.argv[1]) / float(sys.argv[2]), int(sys.argv[3]) / 1024))" "$mo" "$mt" "$peak_kib"
