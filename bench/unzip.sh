#!/usr/bin/env bash
# Extraction speed and memory of UnzipFile against Info-ZIP unzip on the same packages:
# one 512 MiB entry, and 5,000 entries of 512 MiB in all (mixed compressible and random data).
# Each tool extracts into a fresh folder; the best of ORVO_BENCH_RUNS runs (default 3) counts.
# Ends with: unzip: ratio R (target 0.5), peak RSS M MiB — the worse shape's ratio and our
# larger peak resident set.
set -euo pipefail
source "$(dirname "$0")/lib.bash"
bench_prepare unzip_bench >/dev/null
here=$root
build=$bench_build
bin=$build/bench/unzip_bench

work=${ORVO_BENCH_DIR:-${TMPDIR:-/tmp}/orvo-bench-unzip}
runs=${ORVO_BENCH_RUNS:-3}
mkdir -p "$work"
echo "unzip: preparing packages in $work (once)"
python3 "$here/bench/make_unzip_packages.py" "$work"

# Runs one timed extraction into $work/x (a failing tool ends the benchmark); leaves
# "seconds kib" in $work/time.txt and the extracted files' count and bytes in $work/$1.stat.
measure() {
  local out=$work/x
  rm -rf "$out"
  mkdir -p "$out"
  sync
  if [ "$1" = orvo ]; then
    ln "$work/$2.zip" "$out/pkg.zip"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$bin" "$out/pkg.zip"
  else
    /usr/bin/time -f "%e %M" -o "$work/time.txt" unzip -o -q "$work/$2.zip" -d "$out"
  fi
  find "$out" -type f ! -name pkg.zip -printf '%s\n' | awk '{n++; s+=$1} END {print n, s}' > "$work/$1.stat"
}

worst_ratio=0
peak_kib=0
for shape in large small; do
  best_orvo=""; best_unzip=""; rss_orvo=0; rss_unzip=0
  for ((r = 0; r < runs; r++)); do
    for tool in unzip orvo; do
      measure "$tool" "$shape"
      read -r secs kib < "$work/time.txt"
      if [ "$tool" = orvo ]; then
        best_orvo=$(python3 -c "print(min(float('$secs'), float('${best_orvo:-1e9}')))")
        [ "$kib" -gt "$rss_orvo" ] && rss_orvo=$kib
      else
        best_unzip=$(python3 -c "print(min(float('$secs'), float('${best_unzip:-1e9}')))")
        [ "$kib" -gt "$rss_unzip" ] && rss_unzip=$kib
      fi
    done
  done
  if ! cmp -s "$work/orvo.stat" "$work/unzip.stat"; then
    echo "unzip [$shape]: the two tools extracted different files: $(cat "$work/orvo.stat") vs $(cat "$work/unzip.stat")" >&2
    exit 1
  fi
  ratio=$(python3 -c "print('%.2f' % (max($best_orvo, 0.01) / max($best_unzip, 0.01)))")
  echo "unzip [$shape]: UnzipFile ${best_orvo}s, unzip -o -q ${best_unzip}s, ratio $ratio;" \
       "peak RSS $((rss_orvo / 1024)) MiB vs $((rss_unzip / 1024)) MiB"
  worst_ratio=$(python3 -c "print(max($worst_ratio, $ratio))")
  [ "$rss_orvo" -gt "$peak_kib" ] && peak_kib=$rss_orvo
done
rm -rf "$work/x" "$work/time.txt" "$work/orvo.stat" "$work/unzip.stat"
echo "unzip: ratio $worst_ratio (target 0.5), peak RSS $((peak_kib / 1024)) MiB"
