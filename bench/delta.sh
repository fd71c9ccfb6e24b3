#!/usr/bin/env bash
# Delta size and apply time of ours (libzstd's patch-from, as orvo-publish makes and the updater
# applies them) against xdelta3 and bsdiff on the same pairs of real files: two builds of the
# updater from different commits, 24 MiB of data with 1 % changed in scattered runs, and a text
# file with a few edited lines; then what a client fetches for release 1 -> 2 of those files.
# Ends with: delta: size ratio S (target 1.0), apply ratio A (target 1.0), release fetch F % (target 5)
set -euo pipefail
source "$(dirname "$0")/lib.bash"
bench_prepare delta_bench OrvoUpdaterService orvo-publish >/dev/null
bin=$bench_build/bench/delta_bench
work=${ORVO_BENCH_DIR:-${TMPDIR:-/tmp}/orvo-bench-delta}
runs=${ORVO_BENCH_RUNS:-3}
# The older build: ORVO_BENCH_DELTA_OLD (a commit), default 30 commits back.
old_commit=$(git -C "$root" rev-parse "${ORVO_BENCH_DELTA_OLD:-HEAD~30}")
mkdir -p "$work"

echo "delta: preparing pairs in $work (once)"
python3 "$root/bench/make_delta_pairs.py" "$work" "$root/src"

best() { python3 -c "import sys; print('%.3f' % min(map(float, sys.argv[1:])))" "$@"; }
# Best wall time of a command over the runs, in seconds.
timed() {
  local times=()
  for ((r = 0; r < runs; r++)); do
    sync
    /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >/dev/null
    times+=("$(cat "$work/time.txt")")
  done
  best "${times[@]}"
}

worst_size=0
worst_apply=0
printf '%-6s %10s | %10s %10s %10s | %8s %8s %8s\n' pair new ours xdelta3 bsdiff ours xdelta3 bspatch
# The older build takes a while the first time: the generated pairs come first.
prepare_exe() {
  if [ ! -f "$work/exe.old" ] || [ "$(cat "$work/exe.commit" 2>/dev/null)" != "$old_commit" ]; then
    rm -rf "$work/oldsrc" && mkdir -p "$work/oldsrc"
    git -C "$root" archive "$old_commit" | tar -x -C "$work/oldsrc"
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    CCACHE_BASEDIR=$work/oldsrc cmake -S "$work/oldsrc" -B "$work/oldsrc/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVO_TESTS=OFF \
      "${launcher[@]}" >/dev/null
    CCACHE_BASEDIR=$work/oldsrc cmake --build "$work/oldsrc/build" -j "$(nproc)" --target OrvoUpdaterService >&2
    cp "$work/oldsrc/build/src/app/OrvoUpdaterService" "$work/exe.old"
    echo "$old_commit" > "$work/exe.commit"
    rm -rf "$work/oldsrc"
  fi
  cp "$bench_build/src/app/OrvoUpdaterService" "$work/exe.new"
}

for pair in data text exe; do
  [ "$pair" = exe ] && prepare_exe
  old=$work/$pair.old new=$work/$pair.new
  size=$(stat -c %s "$new")
  "$bin" make "$old" "$new" "$work/$pair.zst" >/dev/null
  xdelta3 -e -9 -f -s "$old" "$new" "$work/$pair.xd3"
  bsdiff "$old" "$new" "$work/$pair.bsd"
  s_ours=$(stat -c %s "$work/$pair.zst") s_xd=$(stat -c %s "$work/$pair.xd3") s_bs=$(stat -c %s "$work/$pair.bsd")
  t_ours=$(timed "$bin" apply "$old" "$work/$pair.zst" "$work/out.ours" "$size")
  t_xd=$(timed xdelta3 -d -f -s "$old" "$work/$pair.xd3" "$work/out.xd3")
  t_bs=$(timed bspatch "$old" "$work/out.bs" "$work/$pair.bsd")
  for out in ours xd3 bs; do
    cmp -s "$new" "$work/out.$out" || { echo "delta [$pair]: $out did not rebuild the new file" >&2; exit 1; }
  done
  printf '%-6s %10s | %10s %10s %10s | %7ss %7ss %7ss\n' "$pair" "$size" "$s_ours" "$s_xd" "$s_bs" "$t_ours" "$t_xd" "$t_bs"
  worst_size=$(python3 -c "print('%.2f' % max($worst_size, $s_ours / min($s_xd, $s_bs)))")
  worst_apply=$(python3 -c "print('%.2f' % max($worst_apply, max($t_ours, 0.01) / max($t_xd, 0.01)))")
done

# Release 1 -> 2 of the three files, as orvo-publish counts what clients fetch.
rel=$work/release
rm -rf "$rel" && mkdir -p "$rel/b1" "$rel/b2"
for pair in exe data text; do
  cp "$work/$pair.old" "$rel/b1/$pair"
  cp "$work/$pair.new" "$rel/b2/$pair"
done
printf '[release]\nbase_url = "http://127.0.0.1/rel"\n[install]\nroot = "HCU"\nkey = "Software\\\\Bench"\nfolder = "/tmp/bench"\n' > "$rel/r.toml"
publish=$bench_build/tools/orvo-publish/orvo-publish
"$publish" build --config "$rel/r.toml" --from "$rel/b1" --out "$rel/v1" >/dev/null
"$publish" build --config "$rel/r.toml" --from "$rel/b2" --out "$rel/v2" --previous "$rel/v1/app.xml" --dry-run > "$rel/dry.txt"
read -r fetched full < <(sed -n 's/^with deltas they fetch \([0-9]*\) of those \([0-9]*\) bytes$/\1 \2/p' "$rel/dry.txt")
percent=$(python3 -c "print('%.2f' % (100.0 * $fetched / $full))")
echo "release 1 -> 2: $fetched of $full package bytes fetched"
rm -rf "$rel" "$work"/out.* "$work/time.txt"
echo "delta: size ratio $worst_size (target 1.0), apply ratio $worst_apply (target 1.0), release fetch $percent % (target 5)"
