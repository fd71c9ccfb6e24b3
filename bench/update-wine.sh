#!/usr/bin/env bash
# The whole update of bench/run update (1,000 files, 200 MiB, one package each, from nginx on
# loopback) done by the Windows updater (Release cross build) under Wine, against the Linux
# updater (Release) on the same release in the same run. Both run in console mode from an empty
# install folder, ORVO_BENCH_RUNS times each (default 5), alternating, after a sync; medians
# count. Wine runs in a prefix of the work folder with a warm server (wineserver -p); the
# Windows updater's download folder is emptied before each of its runs, as a fresh home is for
# the Linux one. Information only: there is no target.
# Ends with: update-wine: ratio R (information, no target), peak RSS M MiB — R is the Windows
# updater's median wall time over the Linux updater's; M is the Windows updater's largest peak
# resident set (the Wine process).
set -euo pipefail
bench_name=update-wine
# A work folder of its own: the install folder value in its manifest differs.
export ORVO_BENCH_DIR=${ORVO_BENCH_DIR:-${TMPDIR:-/tmp}/orvo-bench-update-wine}
source "$(dirname "$0")/update_world.bash"

command -v wine >/dev/null || { echo "update-wine: Wine is not installed (scripts/setup)" >&2; exit 1; }
wbuild=${ORVO_BENCH_WINDOWS_BUILD:-$here/build/bench-windows}
cmake -S "$here" -B "$wbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$wbuild" -j "$(nproc)" --target OrvoUpdaterService >&2
wexe=$wbuild/src/app/OrvoUpdaterService.exe

# The prefix and Wine's home lie in the work folder; its user folders are its own, not links.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEARCH=win64 \
       WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
wine_home=$work/wine-home
if [ ! -f "$WINEPREFIX/.orvo-ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$wine_home"
  echo "update-wine: making the Wine prefix $WINEPREFIX (once)"
  if ! { HOME=$wine_home wineboot -i && HOME=$wine_home wineserver -w; } >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log" >&2
    exit 1
  fi
  while IFS= read -r -d '' link; do rm -f -- "$link" && mkdir -p -- "$link"; done \
    < <(find "$WINEPREFIX/drive_c/users" -type l -print0)
  touch "$WINEPREFIX/.orvo-ready"
fi
stop_wine() { HOME=$wine_home wineserver -k 2>/dev/null || true; }
trap 'stop_nginx; stop_wine' EXIT
HOME=$wine_home wineserver -p 2>/dev/null || true
HOME=$wine_home wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

start_nginx
# The Windows updater's manifest names the install folder as programs in the prefix see it.
python3 - "$work" <<'EOF'
import os, sys
work = sys.argv[1]
inst = os.path.join(work, "inst")
text = open(os.path.join(work, "www", "app.xml")).read()
value = "<Value>%s</Value>" % inst
assert value in text
win = "<Value>Z:%s</Value>" % inst.replace("/", "\\")
with open(os.path.join(work, "www", "app-win.xml"), "w") as f:
    f.write(text.replace(value, win))
EOF

start_trash

ours=(); theirs=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  fresh_update_run  # the Linux updater
  theirs+=("$run_secs")

  set_aside "$work/inst"
  find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -name TALVEN -prune -exec rm -rf {} +
  sync
  read -r secs kib rc < <(HOME=$wine_home python3 "$helper" run "$work/wine-updater.log" -- \
                            wine "$wexe" "$base_url/app-win.xml" NULL app.exe)
  if [ "$rc" != 0 ]; then echo "update-wine: the Windows updater failed ($rc): $(tail -20 "$work/wine-updater.log")" >&2; exit 1; fi
  check_installed
  ours+=("$secs")
  [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
  echo "update-wine [run $((r + 1))/$runs]: Windows under Wine ${ours[-1]} s, Linux ${theirs[-1]} s"
done
rm -rf "$trash"

med_ours=$(python3 "$helper" median "${ours[@]}")
med_theirs=$(python3 "$helper" median "${theirs[@]}")
ratio=$(python3 -c "print('%.2f' % ($med_ours / max($med_theirs, 1e-6)))")
echo "update-wine: medians: Windows updater under Wine $med_ours s, Linux updater $med_theirs s"
echo "update-wine: ratio $ratio (information, no target), peak RSS $((peak_kib / 1024)) MiB"
