#!/usr/bin/env bash
# Manifest parsing and update planning with 1k, 10k and 100k file items (plus 5% as many
# registry entries, 2% shortcuts and 1% firewall entries), the new manifest differing from the
# installed one in about 4% of its items (changed hashes, dropped and added items).
#  - plan N: Init's install-folder lookup (which parses the new manifest), then CompareXml
#    (the installed manifest parsed, both read into records and paired, the installed files and
#    shortcut files checked on disk, registry values read); wall time of both together; target
#    under 1 s at 100k and at most ~12x the time of 10k.
#  - parse: the 100k new manifest read by ParseXml into all four record lists (read, decode,
#    check, build the tree, build the records) against xmllint --noout on the same file; CPU
#    time (user + system) of the whole process, best of ORVO_BENCH_RUNS (default 3). The
#    document tree alone (the work xmllint --noout does) is shown beside it.
# Everything runs with HOME/XDG/ORVO_SYSROOT inside the work folder.
# Ends with: manifest: ratio R (target 1.0), peak RSS M MiB — R is the time of ParseXml with
# the records over xmllint's; M is the peak resident set of the 100k planning run.
set -euo pipefail
source "$(dirname "$0")/lib.bash"
bench_prepare manifest_bench >/dev/null
here=$root
build=$bench_build
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

# Best (smallest) of several numbers.
min() { python3 -c "import sys; print(min(float(a) for a in sys.argv[1:]))" "$@"; }
# Runs a command; prints "wall cpu kib" (cpu = user + system seconds).
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$work/time.txt"
}

declare -A plan_best plan_cpu
peak_kib=0
for n in "${sizes[@]}"; do
  times=(); cpus=()
  for ((r = 0; r < runs; r++)); do
    out=$(/usr/bin/time -f "rss %M cpu %U %S" -o "$work/time.txt" "$bin" plan "$work" "$n")
    times+=("$(echo "$out" | awk '/^seconds/ {print $2}')")
    cpus+=("$(awk '/^rss/ {print $4 + $5}' "$work/time.txt")")
    kib=$(awk '/^rss/ {print $2}' "$work/time.txt")
    if [ "$n" = 100000 ] && [ "$kib" -gt "$peak_kib" ]; then peak_kib=$kib; fi
  done
  plan_best[$n]=$(min "${times[@]}")
  plan_cpu[$n]=$(min "${cpus[@]}")
  echo "$out" | grep -v '^seconds'
  echo "manifest [plan $n]: lookup + CompareXml best ${plan_best[$n]} s wall; whole process best ${plan_cpu[$n]} s CPU; $(du -h "$work/new_$n.xml" | cut -f1) manifest"
done
growth=$(python3 -c "print('%.1f' % (${plan_best[100000]} / max(${plan_best[10000]}, 1e-6)))")
echo "manifest [plan]: 100k parsed and planned in ${plan_best[100000]} s (target < 1 s), 10k -> 100k grows ${growth}x (target <= 12x)"

# The same 100k file for each tool, runs interleaved. CPU time decides: the machine is shared,
# and wall time there measures the other tenants as much as the program.
file=$work/new_100000.xml
declare -A wall cpu kib
for tool in xmllint load parse; do wall[$tool]=""; cpu[$tool]=""; kib[$tool]=0; done
for ((r = 0; r < runs; r++)); do
  for tool in xmllint load parse; do
    if [ "$tool" = xmllint ]; then read -r w c k < <(measure xmllint --noout "$file")
    else read -r w c k < <(measure "$bin" "$tool" "$file"); fi
    wall[$tool]="${wall[$tool]} $w"; cpu[$tool]="${cpu[$tool]} $c"
    [ "$k" -gt "${kib[$tool]}" ] && kib[$tool]=$k
  done
done
for tool in xmllint load parse; do
  wall[$tool]=$(min ${wall[$tool]}); cpu[$tool]=$(min ${cpu[$tool]})
done
ratio() { python3 -c "print('%.2f' % ($1 / max($2, 0.01)))"; }
echo "manifest [parse 100k]: xmllint --noout ${cpu[xmllint]} s CPU (${wall[xmllint]} s wall, $((kib[xmllint] / 1024)) MiB)"
echo "manifest [parse 100k]: document (read, UTF-8 to wide, bounds, tree) ${cpu[load]} s CPU (${wall[load]} s wall, $((kib[load] / 1024)) MiB), ratio $(ratio "${cpu[load]}" "${cpu[xmllint]}")"
echo "manifest [parse 100k]: ParseXml with the records ${cpu[parse]} s CPU (${wall[parse]} s wall, $((kib[parse] / 1024)) MiB), ratio $(ratio "${cpu[parse]}" "${cpu[xmllint]}")"
rm -f "$work/time.txt"
echo "manifest: ratio $(ratio "${cpu[parse]}" "${cpu[xmllint]}") (target 1.0), peak RSS $((peak_kib / 1024)) MiB"
