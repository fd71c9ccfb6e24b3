# Shared by scripts/package --check and scripts/demo (sourced): the Debian package installed
# into a scratch root, and the packaged updater's window watched on a private X server.

install_package() {  # install_package ROOT DEB: the scratch root's dependencies are the running system's
  mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
  touch "$1/var/lib/dpkg/status" "$1/var/lib/dpkg/available"
  local force=--force-depends
  [ "$(id -u)" -eq 0 ] || force="$force,not-root"
  if ! dpkg --root="$1" $force --log=/dev/null -i "$2" >"$1/dpkg.log" 2>&1; then
    cat "$1/dpkg.log" >&2
    return 1
  fi
}

start_xvfb() {  # start_xvfb FOLDER: a private X server; sets xvfb_pid and display
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -ac 3>"$1/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
  [ -s "$1/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  display=:$(cat "$1/display")
}

watch_window() {  # watch_window DISPLAY PID PNG: true once the updater's window shows while PID runs; its picture goes to PNG
  local info
  for _ in $(seq 1800); do
    info=$(xwininfo -display "$1" -name ORVOUpdateSvc 2>/dev/null || true)
    if grep -q IsViewable <<<"$info"; then
      sleep 0.5
      import -display "$1" -window root "$3"
      return 0
    fi
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
