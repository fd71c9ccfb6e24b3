#!/usr/bin/env bash
# What checking a signed release costs: the update of the update benchmark (1,000 files,
# 200 MiB, from an empty install folder, nginx on loopback), run by the Release updater with no
# key trusted on the plain manifest, and with the vendor's key trusted on the same manifest
# carrying Sha256 and PackageSize for every file, Sequence, and its signature (so the run
# also fetches the signature, checks it, and hashes every unpacked file). Both runs use a copy
# of the updater in a folder of its own; ORVO_BENCH_RUNS (default 5) alternating runs each,
# medians count. Ends with: verify: ratio R (target 1.10), peak RSS M MiB — R is the signed
# run's median over the plain one's; M is the signed run's largest peak RSS.
set -euo pipefail
bench_name=verify
source "$(dirname "$0")/update_world.bash"
bench_prepare orvo-publish >/dev/null
publisher=$build/tools/orvo-publish/orvo-publish

start_nginx
# The SHA-256 of every published file, once.
if [ ! -f "$work/app-sha256.json" ]; then
  echo "verify: hashing the published files (once)"
  python3 - "$work" <<'PY'
import hashlib, json, os, subprocess, sys
work = sys.argv[1]
sums = {}
for it in json.load(open(os.path.join(work, "app.json"))):
    data = subprocess.run(["unzip", "-p", os.path.join(work, "www") + it["path"]], check=True, capture_output=True).stdout
    sums[it["path"]] = hashlib.sha256(data).hexdigest()
json.dump(sums, open(os.path.join(work, "app-sha256.json.part"), "w"))
os.replace(os.path.join(work, "app-sha256.json.part"), os.path.join(work, "app-sha256.json"))
PY
fi
python3 - "$work" <<'PY'
import json, os, re, sys
work = sys.argv[1]
sums = json.load(open(os.path.join(work, "app-sha256.json")))
xml = open(os.path.join(work, "www", "app.xml")).read()
def extra(m):
    url = m.group(1)
    path = url[url.index("/pkg/"):]
    size = os.stat(os.path.join(work, "www") + path).st_size
    return m.group(0) + "<Sha256>%s</Sha256><PackageSize>%d</PackageSize>" % (sums[path], size)
xml = re.sub(r"<DownloadUrl>([^<]*)</DownloadUrl>", extra, xml)
xml = xml.replace("<UpdateInfo>\n", "<UpdateInfo>\n<Sequence>1</Sequence>\n", 1)
open(os.path.join(work, "www", "signed.xml"), "w").write(xml)
PY
[ -f "$work/verify.key" ] || "$publisher" keygen --out "$work/verify" >/dev/null
rm -f "$work/www/signed.xml.sig"
"$publisher" sign "$work/www/signed.xml" --key "$work/verify.key" >/dev/null
for side in plain signed; do
  rm -rf "$work/bin-$side"
  mkdir -p "$work/bin-$side"
  cp "$updater" "$work/bin-$side/"
done
cp "$work/verify.pub" "$work/bin-signed/trusted-keys.pub"

start_trash

# Wall time, and the CPU time of the run (user + system): on a shared machine the CPU time
# shows what the checks cost when the wall time is dominated by others' load.
run_timed() {
  python3 - "$@" <<'PY'
import os, subprocess, sys, time
out, cmd = sys.argv[1], sys.argv[2:]
with open(out, "wb") as f:
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=f)
    _, status, usage = os.wait4(p.pid, 0)
    t1 = time.perf_counter()
print("%.4f %.4f %d %d" % (t1 - t0, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, os.waitstatus_to_exitcode(status)))
PY
}

plain=(); signed=(); plain_cpu=(); signed_cpu=(); peak_kib=0
for ((r = 0; r < runs; r++)); do
  for side in plain signed; do
    set_aside "$work/inst" "$work/env"
    fresh_env
    sync
    xml=app.xml
    [ "$side" = signed ] && xml=signed.xml
    read -r secs cpu kib rc < <(run_timed "$work/updater.log" "$work/bin-$side/OrvoUpdaterService" "$base_url/$xml" NULL app.sh)
    if [ "$rc" != 0 ]; then echo "verify: the $side run failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; fi
    check_installed
    if [ "$side" = plain ]; then
      plain+=("$secs"); plain_cpu+=("$cpu")
    else
      signed+=("$secs"); signed_cpu+=("$cpu"); [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
    fi
  done
  echo "verify [run $((r + 1))/$runs]: plain ${plain[-1]} s (CPU ${plain_cpu[-1]} s), signed and checked ${signed[-1]} s (CPU ${signed_cpu[-1]} s)"
done
rm -rf "$trash"

med_plain=$(python3 "$helper" median "${plain[@]}")
med_signed=$(python3 "$helper" median "${signed[@]}")
ratio=$(python3 -c "print('%.2f' % ($med_signed / max($med_plain, 1e-6)))")
cpu_plain=$(python3 "$helper" median "${plain_cpu[@]}")
cpu_signed=$(python3 "$helper" median "${signed_cpu[@]}")
echo "verify: medians: plain $med_plain s (CPU $cpu_plain s), signed and checked $med_signed s (CPU $cpu_signed s)"
echo "verify: ratio $ratio (target 1.10), peak RSS $((peak_kib / 1024)) MiB"
