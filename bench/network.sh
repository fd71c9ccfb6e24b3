#!/usr/bin/env bash
# The update over a real-world network: the application of the update benchmark (1,000 files,
# 200 MiB, one zip package each) served by nginx over TLS through the latency relay, 10 ms each
# way (20 ms round trip). The Release updater in console mode installs it from an empty folder
# (downloads, unpacking, installing); the peers only download the same packages over the same
# relay: curl once per file in a shell loop (a connection and a TLS handshake per file), and one
# curl --parallel --parallel-max 4 over one config file. Then the nothing-to-update run with an
# unchanged manifest (the server answers 304) against curl fetching the whole manifest, for the
# application's manifest and for one of 100,000 file items.
# ORVO_BENCH_RUNS runs of each (default 3; the per-file loop runs once, it is slow), alternating;
# medians count.
# Ends with: network: ratio R (target 1.1), peak RSS M MiB — R is the updater's median over curl
# --parallel's; the ratio over the per-file loop (target 0.25) and the 304 ratio are shown above.
set -euo pipefail
bench_name=network
source "$(dirname "$0")/update_world.bash"
bench_prepare orvo_bench_relay >/dev/null
runs=${ORVO_BENCH_RUNS:-3}
delay_ms=${ORVO_BENCH_DELAY_MS:-10}

# A throw-away CA and a server certificate for 127.0.0.1 (once).
if [ ! -f "$work/tls/server.pem" ]; then
  mkdir -p "$work/tls"
  (cd "$work/tls" &&
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >ext.cnf &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem -days 30 \
      -subj '/CN=Orvo Bench CA' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr \
      -subj '/CN=orvo-bench-server' &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 30 -extfile ext.cnf
  ) >/dev/null 2>&1
fi
export CURL_CA_BUNDLE=$work/tls/ca.pem

tls_port=$(python3 "$helper" port)
relay_pid=""
stop_all() {
  [ -z "$relay_pid" ] || kill "$relay_pid" 2>/dev/null || true
  stop_nginx
}
trap stop_all EXIT
coproc RELAY { exec "$build/bench/orvo_bench_relay" "$tls_port" "$delay_ms"; }
relay_pid=$RELAY_PID
read -r relay_port <&"${RELAY[0]}"
manifest_base=https://127.0.0.1:$relay_port
start_nginx
url=$manifest_base/app.xml

# The per-file loop reads the same addresses as the parallel config.
sed -n 's/^url = "\(.*\)"$/\1/p' "$work/curl.cfg" >"$work/urls.txt"
# Both peers find an empty folder (clearing the last run's files is not timed, as for the updater).
cat >"$work/loop.sh" <<'LOOP'
#!/usr/bin/env bash
set -euo pipefail
mkdir -p "$2"; cd "$2"
i=0
while read -r u; do i=$((i + 1)); curl -sSf -o "$i.zip" "$u"; done <"$1"
LOOP
cat >"$work/par.sh" <<'PAR'
#!/usr/bin/env bash
set -euo pipefail
mkdir -p "$2"; cd "$2"
curl -sSf --parallel --parallel-max 4 --config "$1"
PAR
chmod +x "$work/loop.sh" "$work/par.sh"

ours=(); par=(); loop=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/par-dl" "$work/loop-dl"
  sync
  read -r secs _ rc < <(python3 "$helper" run "$work/par.log" -- "$work/par.sh" "$work/curl.cfg" "$work/par-dl")
  [ "$rc" = 0 ] || { echo "network: curl --parallel failed: $(cat "$work/par.log")" >&2; exit 1; }
  par+=("$secs")
  if [ "$r" = 0 ]; then
    read -r secs _ rc < <(python3 "$helper" run "$work/loop.log" -- "$work/loop.sh" "$work/urls.txt" "$work/loop-dl")
    [ "$rc" = 0 ] || { echo "network: the curl loop failed: $(cat "$work/loop.log")" >&2; exit 1; }
    loop+=("$secs")
  fi
  rm -rf "$work/inst"
  fresh_env
  sync
  read -r secs kib rc < <(python3 "$helper" run "$work/updater.log" -- "$updater" "$url" NULL app.sh)
  if [ "$rc" != 0 ]; then echo "network: the updater failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; fi
  check_installed
  ours+=("$secs")
  [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
  echo "network [run $((r + 1))/$runs]: updater ${ours[-1]} s, curl --parallel ${par[-1]} s${loop:+, curl loop ${loop[0]} s}"
done
rm -rf "$work/par-dl" "$work/loop-dl"

# Nothing-to-update runs of the updater against curl fetching the whole manifest, alternating:
# time_noupdate URL CURL_OUTPUT WHAT UPDATER_TIMES CURL_TIMES (the last two: array names).
time_noupdate() {
  local url=$1 out=$2 what=$3 r secs rc
  local -n ours_out=$4 curl_out=$5
  ours_out=(); curl_out=()
  for ((r = 0; r < runs + 2; r++)); do
    read -r secs _ rc < <(python3 "$helper" run "$work/curl.log" -- curl -sSf -o "$out" "$url")
    [ "$rc" = 0 ] || { echo "network: curl failed: $(cat "$work/curl.log")" >&2; exit 1; }
    curl_out+=("$secs")
    read -r secs _ rc < <(python3 "$helper" run "$work/updater.log" -- "$updater" "$url" NULL app.sh)
    [ "$rc" = 0 ] || { echo "network: the $what run failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; }
    ours_out+=("$secs")
  done
}

# Nothing to update: the manifest is unchanged since the last run, which kept it.
time_noupdate "$url" "$work/manifest.xml" "nothing-to-update" noup full

# The same with a manifest of 100,000 file items (about 25 MiB): the 1,000 installed files and
# 99,000 empty ones more in 99 folders of the installed application, its installed copy equal to
# the published one. One run fetches it whole and keeps it (not timed); then the updater's
# nothing-to-update runs (a 304, the kept copy parsed and planned against the installed copy,
# every file checked) alternate with curl fetching the whole manifest.
python3 - "$work" "$manifest_base" <<'PYEOF'
import os, re, sys
work, base = sys.argv[1], sys.argv[2]
text = open(os.path.join(work, "www", "app.xml")).read()
head, items, tail = re.match(r"(.*<UpdateData>\n)(.*)(</UpdateData>.*)", text, re.S).groups()
extra = []
for d in range(99):
    folder = os.path.join(work, "inst", "big", "d%02d" % d)
    os.makedirs(folder, exist_ok=True)
    for k in range(1000):
        name = "e%02d_%03d.dat" % (d, k)
        open(os.path.join(folder, name), "wb").close()
        extra.append("<Item><FileHash>%032x</FileHash><DownloadUrl>%s/pkg/big/%s.zip</DownloadUrl><OriFileName>%s</OriFileName>"
                     "<FileSize>0</FileSize><RegCom>0</RegCom><Folder>_INSTALL\\big\\d%02d</Folder></Item>\n"
                     % (d * 1000 + k, base, name, name, d))
big = head + items + "".join(extra) + tail
for path in (os.path.join(work, "www", "big.xml"), os.path.join(work, "inst", "big.xml")):
    with open(path, "w") as f:
        f.write(big)
PYEOF
big_url=$manifest_base/big.xml
read -r _ _ rc < <(python3 "$helper" run "$work/updater.log" -- "$updater" "$big_url" NULL app.sh)
[ "$rc" = 0 ] || { echo "network: the first 100k-item run failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; }
if grep -q "downloading\|installing" "$work/updater.log"; then
  echo "network: the 100k-item manifest is not current: $(tail -20 "$work/updater.log")" >&2; exit 1
fi
time_noupdate "$big_url" "$work/big.xml" "100k-item nothing-to-update" noup_big full_big

med_ours=$(python3 "$helper" median "${ours[@]}")
med_par=$(python3 "$helper" median "${par[@]}")
med_loop=$(python3 "$helper" median "${loop[@]}")
med_noup=$(python3 "$helper" median "${noup[@]}")
med_full=$(python3 "$helper" median "${full[@]}")
med_noup_big=$(python3 "$helper" median "${noup_big[@]}")
med_full_big=$(python3 "$helper" median "${full_big[@]}")
ratio() { python3 -c "print('%.2f' % ($1 / max($2, 1e-6)))"; }
echo "network: medians: updater $med_ours s, curl --parallel 4 $med_par s, curl per-file loop $med_loop s"
echo "network: updater over the per-file loop: ratio $(ratio "$med_ours" "$med_loop") (target 0.25)"
echo "network: nothing to update with an unchanged manifest (304) $med_noup s, curl of the whole manifest $med_full s: ratio $(ratio "$med_noup" "$med_full")"
echo "network: nothing to update with an unchanged 100k-item manifest (304) $med_noup_big s, curl of the whole $(du -h "$work/big.xml" | cut -f1) manifest $med_full_big s: ratio $(ratio "$med_noup_big" "$med_full_big")"
echo "network: ratio $(ratio "$med_ours" "$med_par") (target 1.1), peak RSS $((peak_kib / 1024)) MiB"
