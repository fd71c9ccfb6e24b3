#!/usr/bin/env bash
# A whole update from an empty install folder: the Release updater in console mode (stderr not a
# terminal) installs an application of 1,000 files, 200 MiB in all (text-like, random and mixed
# data; one zip package per file, 14 folders), served by nginx on loopback. The peer is a shell
# baseline doing the same work with standard tools in the same run: one curl downloading every
# package over one connection, one unzip over all packages, one cp per install folder.
# Each side runs ORVO_BENCH_RUNS times (default 5), alternating, from a fresh install folder and
# a fresh home, after a sync; medians count. The updater's run includes its two fixed 100 ms
# pauses of completion and the flush of every installed file (the baseline flushes nothing).
# Ends with: update: ratio R (target 1.0), peak RSS M MiB — R is the updater's median wall
# time over the baseline's; M is the updater's largest peak resident set.
set -euo pipefail
bench_name=update
source "$(dirname "$0")/update_world.bash"

start_nginx

cat >"$work/baseline.sh" <<'EOF'
#!/usr/bin/env bash
# curl, unzip, cp: the standard tools doing the updater's work.
set -euo pipefail
work=$1
mkdir -p "$work/base-dl" "$work/base-x" "$work/base"
cd "$work/base-dl"
curl -sSf --config "$work/curl.cfg"
unzip -qq -o "$work/base-dl/*.zip" -d "$work/base-x" >/dev/null
cd "$work/base-x"
while IFS=$'\t' read -r folder names; do
  mkdir -p "$work/base/$folder"
  # shellcheck disable=SC2086
  cp $names "$work/base/$folder/"
done <"$work/copy.txt"
cd "$work"
rm -rf "$work/base-dl" "$work/base-x"
EOF
chmod +x "$work/baseline.sh"

start_trash

ours=(); theirs=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  set_aside "$work/base" "$work/base-dl" "$work/base-x"
  sync
  read -r secs _ rc < <(python3 "$helper" run "$work/baseline.log" -- "$work/baseline.sh" "$work")
  if [ "$rc" != 0 ]; then echo "update: the baseline failed: $(cat "$work/baseline.log")" >&2; exit 1; fi
  [ "$(find "$work/base" -type f | wc -l)" = 1000 ] || { echo "update: the baseline installed a wrong file count" >&2; exit 1; }
  theirs+=("$secs")

  fresh_update_run
  ours+=("$run_secs")
  [ "$run_kib" -gt "$peak_kib" ] && peak_kib=$run_kib
  echo "update [run $((r + 1))/$runs]: updater ${ours[-1]} s, baseline ${theirs[-1]} s"
done
rm -rf "$work/base" "$trash"

med_ours=$(python3 "$helper" median "${ours[@]}")
med_theirs=$(python3 "$helper" median "${theirs[@]}")
ratio=$(python3 -c "print('%.2f' % ($med_ours / max($med_theirs, 1e-6)))")
echo "update: medians: updater $med_ours s, curl + unzip + cp $med_theirs s"
echo "update: ratio $ratio (target 1.0), peak RSS $((peak_kib / 1024)) MiB"
