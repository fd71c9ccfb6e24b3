#!/usr/bin/env python3
"""Runs the updater once for the window benchmark and measures it.

  window_bench.py OUT NAME -- CMD...
      runs CMD (stdout/stderr to OUT) and prints
      "seconds peak_kib exit_code first_frame_seconds web_peak_kib":
      wall time and peak resident set of the updater (wait4), the time from the start to the
      moment the window named NAME is mapped on the display (-1 when it never is), and the
      largest peak resident set of the web processes the updater started (0 when none).
"""
import os
import subprocess
import sys
import time


def children_named(ppid, prefix):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        parent = int(stat[stat.rindex(")") + 2:].split()[1])
        if parent == ppid and comm.startswith(prefix):
            found.append(int(entry))
    return found


def peak_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def mapped(name):
    r = subprocess.run(["xwininfo", "-name", name], capture_output=True, text=True)
    return r.returncode == 0 and "IsViewable" in r.stdout


def main(argv):
    out, name, cmd = argv[1], argv[2], argv[argv.index("--") + 1:]
    with open(out, "wb") as log:
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        first_frame = -1.0
        web_peak = 0
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid == proc.pid:
                break
            if first_frame < 0 and mapped(name):
                first_frame = time.monotonic() - start
            for web in children_named(proc.pid, "WebKitWebProces"):
                web_peak = max(web_peak, peak_kib(web))
            time.sleep(0.01)
        secs = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    print("%.3f %d %d %.3f %d" % (secs, usage.ru_maxrss, code, first_frame, web_peak))


if __name__ == "__main__":
    main(sys.argv)
