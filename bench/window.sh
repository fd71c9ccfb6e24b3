#!/usr/bin/env bash
# The update of bench/run update (1,000 files, 200 MiB, from an empty install folder, nginx on
# loopback) shown in the skinned window under Xvfb, against the same update in the terminal front
# end, in the same run, alternating, ORVO_BENCH_RUNS times (default 5); medians count. Both runs
# see the same display, the same manifest (with the default skin as its Skin) and an updater of
# their own (the skin is unpacked beside it). The update starts before the window module loads,
# and its end is acted on when it comes: the window's timers (it appears 1 s after the dialog
# starts, and keeps the finished bars on screen 1 s) hold back neither the update nor the target.
# Ends with: window: ratio R (target 1.15), window side peak RSS M MiB (target 60) — R is the
# window run's median time to the end of the update (the line both front ends write just before
# the hand-over starts the target) over the terminal run's; M the updater's largest peak
# resident set with the window. The lines before give the ratio of the whole process lifetimes
# (the window keeps the finished bars on screen for 1 s after the hand-over), the time from the
# start to the window's first painted frame and from the window being shown to that frame (the
# updater's own debug line), and the CPU time of each side. The default skin is native: the run
# fails when a web engine process starts (the web module lies beside the updater all the same).
set -euo pipefail
bench_name=window
source "$(dirname "$0")/update_world.bash"
bench_prepare orvo-window >/dev/null
wbench=$here/bench/window_bench.py

start_nginx
# The default skin as the manifest's Skin.
mkdir -p "$work/www/skin"
rm -f "$work/www/skin/skin.zip"
(cd "$here/skins/default" && zip -q -X "$work/www/skin/skin.zip" ./*)
skin_size=$(stat -c %s "$here/skins/default/skin.xml")
python3 - "$work/www/app.xml" "$base_url" "$skin_size" <<'PY'
import sys
path, url, size = sys.argv[1], sys.argv[2], sys.argv[3]
xml = open(path, encoding="utf-8").read()
skin = ("<Skin><FileHash>default-%s</FileHash><DownloadUrl>%s/skin/skin.zip</DownloadUrl>"
        "<OriFileName>skin.xml</OriFileName><FileSize>%s</FileSize></Skin>\n" % (size, url, size))
open(path, "w", encoding="utf-8").write(xml.replace("</UpdateInfo>", skin + "</UpdateInfo>"))
PY

# A private X server for the run.
xvfb_pid=""
for n in $(seq $((100 + $$ % 300)) 7 999); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -nolisten tcp -noreset -screen 0 1280x800x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; break; fi
  xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "window: Xvfb did not start" >&2; exit 1; }
trap 'stop_nginx; kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true' EXIT

for side in terminal window; do
  rm -rf "$work/bin-$side"
  mkdir -p "$work/bin-$side"
  cp "$updater" "$build/src/app/orvo-window.so" "$work/bin-$side/"
  # With the web module beside it, as installed: a native skin must not start the engine.
  [ -f "$build/src/app/orvo-window-web.so" ] && cp "$build/src/app/orvo-window-web.so" "$work/bin-$side/"
done

run_side() {  # run_side terminal|window
  ORVO_FRONTEND=$1 python3 "$wbench" "$work/updater-$1.log" -- \
    "$work/bin-$1/OrvoUpdaterService" "$base_url/app.xml" NULL app.sh
}

start_trash
term=(); win=(); term_done=(); win_done=(); frames=(); shown=(); peak_kib=0; term_kib=0; web_kib=0
for ((r = 0; r < runs; r++)); do
  for side in terminal window; do
    set_aside "$work/inst" "$work/env"
    fresh_env
    sync
    read -r secs kib rc frame web done cpu helpers < <(run_side "$side")
    if [ "$rc" != 0 ]; then echo "window: the $side run failed ($rc): $(tail -20 "$work/updater-$side.log")" >&2; exit 1; fi
    check_installed
    [ "$done" != "-1.000" ] || { echo "window: the $side run never said it completed" >&2; exit 1; }
    if [ "$side" = terminal ]; then
      term+=("$secs"); term_done+=("$done")
      [ "$kib" -gt "$term_kib" ] && term_kib=$kib
    else
      win+=("$secs"); win_done+=("$done"); frames+=("$frame")
      [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
      [ "$web" -gt "$web_kib" ] && web_kib=$web
      [ "$frame" != "-1.000" ] || { echo "window: the window never painted" >&2; exit 1; }
      [ "$web" = 0 ] && [ "$helpers" = "0.00" ] || { echo "window: a web engine process ran for the native default skin" >&2; exit 1; }
      shown+=("$(grep -o 'first frame painted [0-9]* ms after the dialog started ([0-9]* ms after it was shown' "$work/updater-window.log" |
                 sed 's/.*(\([0-9]*\) ms after it was shown/\1/' | head -1)")
    fi
    eval "cpu_$side=\$cpu helpers_$side=\$helpers"
  done
  echo "window [run $((r + 1))/$runs]: window done ${win_done[-1]} s, exit ${win[-1]} s (first frame ${frames[-1]} s," \
       "CPU: updater $cpu_window s, web helpers $helpers_window s); terminal done ${term_done[-1]} s, exit ${term[-1]} s (CPU $cpu_terminal s)"
done
rm -rf "$work/inst" "$trash"

med_win=$(python3 "$helper" median "${win[@]}")
med_term=$(python3 "$helper" median "${term[@]}")
med_frame=$(python3 "$helper" median "${frames[@]}")
med_win_done=$(python3 "$helper" median "${win_done[@]}")
med_term_done=$(python3 "$helper" median "${term_done[@]}")
ratio=$(python3 -c "print('%.2f' % ($med_win_done / max($med_term_done, 1e-6)))")
exit_ratio=$(python3 -c "print('%.2f' % ($med_win / max($med_term, 1e-6)))")
echo "window: medians: update done: window $med_win_done s, terminal $med_term_done s; process exit: window $med_win s, terminal $med_term s (ratio $exit_ratio)"
med_shown=$(python3 "$helper" median "${shown[@]}")
echo "window: first painted frame after $med_frame s from the start (the window shows 1 s after the dialog starts by design)"
echo "window: from the window's creation (shown) to its first painted frame: $med_shown ms (target 250 ms)"
echo "window: the terminal run's peak RSS $((term_kib / 1024)) MiB (what the update itself takes)"
echo "window: ratio $ratio (target 1.15), window side peak RSS $((peak_kib / 1024)) MiB (target 60 MiB)"
