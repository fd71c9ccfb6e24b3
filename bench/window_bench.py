#!/usr/bin/env python3
"""Runs the updater once for the window benchmark and measures it.

  window_bench.py OUT -- CMD...
      runs CMD with its debug lines on (stdout/stderr to OUT, each line with the time it came)
      and prints "seconds peak_kib exit_code first_frame_seconds web_peak_kib done_seconds
      cpu_seconds helper_cpu_seconds":
      wall time and peak resident set of the updater (wait4), the time from the start to the
      updater's line saying that its window painted its first frame (-1 when it never does),
      the largest peak resident set of the web processes the updater started (0 when none),
      the time to the line saying that the update completed, which both front ends write
      just before the hand-over (-1 when it never comes), the CPU time (user and system) of the
      updater and that of the web engine's processes it started (as last sampled).
The same light sampling runs for both front ends, so it costs both the same.
"""
import os
import subprocess
import sys
import threading
import time

FIRST_FRAME = b"[OVUSVC] first frame painted"
COMPLETE = b"[OVUSVC] Update Complete!"


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


def cpu_seconds(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return 0.0
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main(argv):
    out, cmd = argv[1], argv[argv.index("--") + 1:]
    env = dict(os.environ, ORVO_DEBUG="1")
    seen = {FIRST_FRAME: -1.0, COMPLETE: -1.0}
    with open(out, "wb") as log:
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)

        def copy():
            # Each line goes to the log with the time it arrived, for reading the run's course.
            pending = b""
            while True:
                chunk = proc.stdout.read1(65536)
                now = time.monotonic() - start
                if not chunk:
                    if pending:
                        log.write(b"[%7.3f] %s\n" % (now, pending))
                    return
                pending += chunk
                *lines, pending = pending.split(b"\n")
                for line in lines:
                    log.write(b"[%7.3f] %s\n" % (now, line))
                    for marker in seen:
                        if seen[marker] < 0 and marker in line:
                            seen[marker] = now

        reader = threading.Thread(target=copy)
        reader.start()
        web_peak = 0
        helper_cpu = {}
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid == proc.pid:
                break
            for web in children_named(proc.pid, "WebKitWebProces"):
                web_peak = max(web_peak, peak_kib(web))
            for helper in children_named(proc.pid, "WebKit"):
                helper_cpu[helper] = cpu_seconds(helper) or helper_cpu.get(helper, 0.0)
            time.sleep(0.1)
        secs = time.monotonic() - start
        reader.join()
    code = os.waitstatus_to_exitcode(status)
    print("%.3f %d %d %.3f %d %.3f %.2f %.2f" % (secs, usage.ru_maxrss, code, seen[FIRST_FRAME], web_peak, seen[COMPLETE],
                                              usage.ru_utime + usage.ru_stime, sum(helper_cpu.values())))


if __name__ == "__main__":
    main(sys.argv)
