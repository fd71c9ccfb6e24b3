# Sourced by update.sh and noupdate.sh: the Release updater, the published application
# (1,000 files, 200 MiB, one zip package each, and its manifest), nginx serving it on a free
# loopback port, and an environment whose home, XDG folders and system root lie in the work
# folder (the updater's registry store and its download folder live there).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/bench/lib.bash"
bench_name=$(basename "$0" .sh)  # what the messages start with
bench_prepare OrvoUpdaterService >/dev/null
build=$bench_build
updater=$build/src/app/OrvoUpdaterService
helper=$here/bench/update_bench.py

work=${ORVO_BENCH_DIR:-${TMPDIR:-/tmp}/orvo-bench-update}
runs=${ORVO_BENCH_RUNS:-5}
mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ ! -f "$work/app.json" ]; then
  echo "$bench_name: generating 1,000 files (200 MiB) and their packages in $work (once)"
  python3 "$helper" generate "$work"
fi

# A fresh home, XDG folders and system root: no registry store, no download folder.
fresh_env() {
  [ ! -e "$work/env" ] || rm -rf "$work/env"
  mkdir -p "$work/env/home/.config" "$work/env/home/.cache" "$work/env/home/.local/share" \
           "$work/env/run" "$work/env/sysroot"
  chmod 700 "$work/env/run"
}
export HOME=$work/env/home XDG_CONFIG_HOME=$work/env/home/.config XDG_CACHE_HOME=$work/env/home/.cache \
       XDG_DATA_HOME=$work/env/home/.local/share XDG_RUNTIME_DIR=$work/env/run ORVO_SYSROOT=$work/env/sysroot
unset DISPLAY WAYLAND_DISPLAY ORVO_DEBUG

# Folders of earlier runs are set aside and only deleted at the end: freshly freed inodes can
# make file creation slower on some file systems, and neither side should pay for the other.
start_trash() {
  trash=$work/trash
  rm -rf "$trash"
  mkdir -p "$trash"
}
set_aside() {
  local p
  for p in "$@"; do
    if [ -e "$p" ]; then mv "$p" "$trash/$(basename "$p").$RANDOM$RANDOM"; fi
  done
}

# nginx as the current user, everything under $work/nginx, stopped when the script ends.
nginx_pid=""
stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
trap stop_nginx EXIT
start_nginx() {
  local d=$work/nginx port
  rm -rf "$d"
  mkdir -p "$d/tmp"
  port=$(python3 "$helper" port)
  # With tls_port set (and $work/tls holding server.pem/server.key), nginx also serves HTTPS there.
  local tls_listen=""
  if [ -n "${tls_port:-}" ]; then
    tls_listen="    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/tls/server.pem;
    ssl_certificate_key $work/tls/server.key;"
  fi
  cat >"$d/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $d/nginx.pid;
error_log $d/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 30;
  keepalive_requests 10000;
  default_type application/octet-stream;
  types { text/xml xml; application/zip zip; }
  client_body_temp_path $d/tmp/client_body;
  proxy_temp_path $d/tmp/proxy;
  fastcgi_temp_path $d/tmp/fastcgi;
  uwsgi_temp_path $d/tmp/uwsgi;
  scgi_temp_path $d/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
$tls_listen
    server_name localhost;
    root $work/www;
  }
}
EOF
  local nginx=/usr/sbin/nginx
  [ -x "$nginx" ] || nginx=nginx
  "$nginx" -e "$d/error.log" -p "$d/" -c "$d/nginx.conf" </dev/null >/dev/null 2>>"$d/error.log" &
  nginx_pid=$!
  base_url=http://127.0.0.1:$port
  # The manifest names packages at manifest_base when a script puts something between.
  python3 "$helper" manifest "$work" "${manifest_base:-$base_url}"
  for _ in $(seq 100); do
    curl -sf -o /dev/null "$base_url/app.xml" && return 0
    sleep 0.05
  done
  echo "$bench_name: nginx did not start: $(cat "$d/error.log")" >&2
  exit 1
}

# Runs the updater from an empty or installed folder: "seconds peak_kib exit_code".
run_updater() {
  python3 "$helper" run "$work/updater.log" -- "$updater" "$base_url/app.xml" NULL "$@"
}

# One update into an empty folder and a fresh environment, checked afterwards; its seconds and
# peak RSS (KiB) in run_secs and run_kib. Stops the benchmark when the run fails.
fresh_update_run() {
  local rc
  set_aside "$work/inst" "$work/env"
  fresh_env
  sync
  read -r run_secs run_kib rc < <(run_updater app.sh)
  if [ "$rc" != 0 ]; then echo "$bench_name: the updater failed ($rc): $(tail -20 "$work/updater.log")" >&2; exit 1; fi
  check_installed
}

# Compares the installed tree with the published application.
check_installed() {
  python3 - "$work" <<'EOF'
import hashlib, json, os, sys
work = sys.argv[1]
bad = 0
for it in json.load(open(os.path.join(work, "app.json"))):
    rel = it["folder"].replace("_INSTALL", "").replace("\\", "/").lstrip("/")
    path = os.path.join(work, "inst", rel, it["name"])
    try:
        data = open(path, "rb").read()
    except OSError:
        data = None
    if data is None or len(data) != it["size"] or hashlib.md5(data).hexdigest() != it["hash"]:
        bad += 1
if bad:
    sys.exit("%d installed files differ from the published ones" % bad)
EOF
}
