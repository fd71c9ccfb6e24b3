#!/usr/bin/env bash
# Manifest parsing and update planning with 1k, 10k and 100k file items (plus 5% as many
# registry entries, 2% shortcuts and 1% firewall entries), the new manifest differing from the
# installed one in about 4% of its items (changed hashes, dropped and added items).
#  - plan N: Init's install-folder lookup, then CompareXml (both manifests parsed, paired, the
#    installed files and shortcut files checked on disk, registry values read); target under
#    1 s at 100k and at most ~12x the time of 10k.
#  - parse: the 100k new manifest parsed into records by our process against xmllint --noout on
#    the same file, wall time of the whole process each, best of ORVO_BENCH_RUNS (default 3).
# Everything runs with HOME/XDG/ORVO_SYSROOT inside the work folder.
# Ends with: manifest: ratio R (target 1.0), peak RSS M MiB — R is our parse time over
# xmllint's; M is the peak resident set of the 100k planning run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup" >/dev/null

build=$here/build/bench
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVO_BENCH=ON -DORVO_TESTS=OFF >/dev/null
cmake --build "$build" --target manifest_bench -j "$(nproc)" >/dev/null
bin=$build/bench/manifest_bench

work=${ORVO_BENCH_DIR:-${TMPDIR:-/tmp}/orvo-bench-manifest}
runs=${ORVO_BENCH_RUNS:-3}
mkdir -p "$work/home" "$work/sysroot"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
       XDG_CACHE_HOME=$work/home/.cache XDG_DOCUMENTS_DIR=$work/home/Documents ORVO_SYSROOT=$work/sysroot

sizes=(1000 10000 100000)
for n in "${sizes[@]}"; do
  if [ ! -f "$work/new_$n.xml" ]; then
    echo "manifest: generating $n items in $work (once)"
    "$bin" generate "$work" "$n"
  fi
done

now() { date +%s%N; }
min() { python3 -c "import sys; print(min(float(a) for a in sys.argv[1:]))" "$@"; }

declare -A plan_best
peak_kib=0
for n in "${sizes[@]}"; do
  times=()
  for ((r = 0; r < runs; r++)); do
    out=$(/usr/bin/time -f "rss %M" -o "$work/time.txt" "$bin" plan "$work" "$n")
    times+=("$(echo "$out" | awk '/^seconds/ {print $2}')")
    kib=$(awk '/^rss/ {print $2}' "$work/time.txt")
    if [ "$n" = 100000 ] && [ "$kib" -gt "$peak_kib" ]; then peak_kib=$kib; fi
  done
  plan_best[$n]=$(min "${times[@]}")
  echo "$out" | grep -v '^seconds'
  echo "manifest [plan $n]: best ${plan_best[$n]} s, $(du -h "$work/new_$n.xml" | cut -f1) manifest"
done
growth=$(python3 -c "print('%.1f' % (${plan_best[100000]} / max(${plan_best[10000]}, 1e-6)))")
echo "manifest [plan]: 100k in ${plan_best[100000]} s (target < 1 s), 10k -> 100k grows ${growth}x (target <= 12x)"

file=$work/new_100000.xml
ours=(); theirs=()
for ((r = 0; r < runs; r++)); do
  t0=$(now); xmllint --noout "$file"; t1=$(now)
  "$bin" parse "$file" >/dev/null; t2=$(now)
  theirs+=("$(python3 -c "print(($t1 - $t0) / 1e9)")")
  ours+=("$(python3 -c "print(($t2 - $t1) / 1e9)")")
done
best_ours=$(min "${ours[@]}")
best_theirs=$(min "${theirs[@]}")
ratio=$(python3 -c "print('%.2f' % ($best_ours / max($best_theirs, 1e-6)))")
echo "manifest [parse 100k]: ParseXml process ${best_ours} s, xmllint --noout ${best_theirs} s"
rm -f "$work/time.txt"
echo "manifest: ratio $ratio (target 1.0), peak RSS $((peak_kib / 1024)) MiB"
