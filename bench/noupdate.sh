#!/usr/bin/env bash
# The nothing-to-update road: the application of the update benchmark (1,000 files, 200 MiB)
# is installed and current; the Release updater fetches the manifest, plans (both manifests
# parsed, every installed file checked, the registry read) and starts the target. The target is
# a tiny program that writes the time of its start; the updater's figure is the time from just
# before it is started to that instant. The peer is curl fetching the manifest alone to a file.
# ORVO_BENCH_RUNS runs each (default 5), alternating; medians count. Also shown: the updater's
# wall time to its own exit.
# Ends with: noupdate: ratio R (target 1.5), peak RSS M MiB — R is the updater's median time to
# the target's start over curl's median wall time; M is the updater's largest peak resident set.
set -euo pipefail
bench_name=noupdate
source "$(dirname "$0")/update_world.bash"
runs=${ORVO_BENCH_RUNS:-7}

start_nginx

# The installed, current application (one whole update, not timed) and the target program.
rm -rf "$work/inst"
fresh_env
read -r _ _ rc < <(run_updater stamp-target)
if [ "$rc" != 0 ]; then echo "noupdate: the installing update failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; fi
check_installed
cat >"$work/stamp.c" <<'CEOF'
#include <stdio.h>
#include <time.h>
int main(int argc, char** argv) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (argc < 2) return 1;
    FILE* f = fopen(argv[1], "w");
    if (!f) return 1;
    fprintf(f, "%lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
    return fclose(f) != 0;
}
CEOF
cc -O2 -o "$work/inst/stamp-target" "$work/stamp.c"
stamp=$work/started

ours=(); exits=(); theirs=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  read -r secs _ rc < <(python3 "$helper" run "$work/curl.log" -- curl -sSf -o "$work/manifest.xml" "$base_url/app.xml")
  [ "$rc" = 0 ] || { echo "noupdate: curl failed: $(cat "$work/curl.log")" >&2; exit 1; }
  theirs+=("$secs")

  read -r secs launched kib rc < <(python3 "$helper" launch "$stamp" "$work/updater.log" -- \
                                     "$updater" "$base_url/app.xml" NULL stamp-target "$stamp")
  if [ "$rc" != 0 ] || [ "$launched" = -1.0000 ]; then
    echo "noupdate: the updater failed ($rc) or started no target: $(tail -20 "$work/updater.log")" >&2
    exit 1
  fi
  if grep -q "Overall" "$work/updater.log"; then echo "noupdate: the updater did update something" >&2; exit 1; fi
  ours+=("$launched"); exits+=("$secs")
  [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
  echo "noupdate [run $((r + 1))/$runs]: updater to target start $launched s (exit $secs s), curl ${theirs[-1]} s"
done

med_ours=$(python3 "$helper" median "${ours[@]}")
med_exit=$(python3 "$helper" median "${exits[@]}")
med_theirs=$(python3 "$helper" median "${theirs[@]}")
ratio=$(python3 -c "print('%.2f' % ($med_ours / max($med_theirs, 1e-6)))")
echo "noupdate: medians: updater to target start $med_ours s (to its exit $med_exit s), curl $med_theirs s"
echo "noupdate: ratio $ratio (target 1.5), peak RSS $((peak_kib / 1024)) MiB"
