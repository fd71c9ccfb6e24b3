#!/usr/bin/env python3
"""Helpers of the update and noupdate benchmarks.

  generate WORK          once per work folder: an application of 1,000 files, 200 MiB in all
                         (a third text-like, a third random, a third mixed blocks), one zip
                         package per file made with Info-ZIP zip under WORK/www/pkg, and the
                         shell baseline's download list and copy plan. The manifest is written
                         by `manifest` because it names the server's port.
  manifest WORK URL      writes WORK/www/app.xml for the server at URL.
  port                   prints a free loopback port.
  run OUT -- CMD...      runs CMD with stdout/stderr to OUT, prints "seconds peak_kib exit_code"
                         (wall time and peak resident set of that very process, via wait4).
  launch STAMP OUT -- CMD...
                         like run, for a run that starts a target which writes the wall-clock
                         time of its start (ns) to STAMP: prints "seconds launch_seconds
                         peak_kib exit_code", launch_seconds from just before CMD started to
                         the target's start.
  median X...            prints the median of the numbers.
"""
import hashlib
import json
import os
import random
import socket
import statistics
import subprocess
import sys
import time

FILES = 1000
TOTAL = 200 << 20
BLOCK = 64 << 10
FOLDERS = ["_INSTALL"] + ["_INSTALL\\lib%d\\part%d" % (a, b) for a in range(4) for b in range(3)] + ["_INSTALL\\data"]


def text_pool(rng):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randrange(2, 10))) for _ in range(3000)]
    lines, size = [], 0
    while size < (4 << 20):
        line = b" ".join(rng.choice(words) for _ in range(rng.randrange(4, 14))) + b" %d\n" % rng.randrange(1 << 20)
        lines.append(line)
        size += len(line)
    return b"".join(lines)


def sizes(rng):
    # Heavy-tailed like real applications: many small files, a few large ones.
    raw = [rng.lognormvariate(0, 1.4) for _ in range(FILES)]
    scale = TOTAL / sum(raw)
    out = [max(512, int(r * scale)) for r in raw]
    out[0] += TOTAL - sum(out)  # exactly TOTAL
    return out


def content(rng, text, kind, n):
    if kind == 0:
        start = rng.randrange(len(text) - min(n, len(text) - 1))
        data = bytearray()
        while len(data) < n:
            data += text[start:start + n - len(data)]
            start = 0
        return bytes(data)
    if kind == 1:
        return rng.randbytes(n)
    data = bytearray()
    while len(data) < n:
        if rng.random() < 0.5:
            data += rng.randbytes(BLOCK)
        else:
            start = rng.randrange(len(text) - BLOCK)
            data += text[start:start + BLOCK]
    return bytes(data[:n])


def generate(work):
    plan_path = os.path.join(work, "app.json")
    if os.path.exists(plan_path):
        return
    rng = random.Random(6)
    text = text_pool(rng)
    stage = os.path.join(work, "stage")
    pkg = os.path.join(work, "www", "pkg")
    os.makedirs(stage, exist_ok=True)
    items = []
    for i, n in enumerate(sizes(rng)):
        name = "f%04d.%s" % (i, ("txt", "bin", "dat")[i % 3])
        data = content(rng, text, i % 3, n)
        src = os.path.join(stage, name)
        with open(src, "wb") as f:
            f.write(data)
        os.makedirs(os.path.join(pkg, "%04d" % i), exist_ok=True)
        zip_path = os.path.join(pkg, "%04d" % i, name + ".zip")
        if os.path.exists(zip_path):
            os.unlink(zip_path)
        subprocess.run(["zip", "-q", "-X", zip_path, name], cwd=stage, check=True)
        os.unlink(src)
        items.append({"name": name, "size": n, "hash": hashlib.md5(data).hexdigest(),
                      "path": "/pkg/%04d/%s.zip" % (i, name), "folder": FOLDERS[i % len(FOLDERS)]})
    os.rmdir(stage)
    with open(plan_path + ".part", "w") as f:
        json.dump(items, f)
    os.replace(plan_path + ".part", plan_path)


def tag(name, value):
    return "<%s>%s</%s>" % (name, value, name)


def manifest(work, url):
    with open(os.path.join(work, "app.json")) as f:
        items = json.load(f)
    inst = os.path.join(work, "inst")
    out = ['<?xml version="1.0" encoding="utf-8"?>\n<UpdateInfo>\n<UpdateData>\n']
    for it in items:
        out.append("<Item>" + tag("FileHash", it["hash"]) + tag("DownloadUrl", url + it["path"]) +
                   tag("OriFileName", it["name"]) + tag("FileSize", it["size"]) + tag("RegCom", "0") +
                   tag("Folder", it["folder"]) + "</Item>\n")
    out.append("</UpdateData>\n<RegistData>\n<Item>" + tag("Version", "1") + tag("RootPath", "HLM") +
               tag("Path", "Software\\OrvoBench\\App\\INSTALL SZ") + tag("Value", inst) + tag("ValueType", "STRING") +
               "</Item>\n</RegistData>\n</UpdateInfo>\n")
    with open(os.path.join(work, "www", "app.xml"), "w") as f:
        f.write("".join(out))
    # The shell baseline: one curl for every package (one connection, as the updater could),
    # then one unzip over all packages, then one cp per install folder.
    with open(os.path.join(work, "curl.cfg"), "w") as f:
        for it in items:
            f.write('url = "%s%s"\noutput = "%s"\n' % (url, it["path"], it["name"] + ".zip"))
    by_folder = {}
    for it in items:
        by_folder.setdefault(it["folder"], []).append(it["name"])
    with open(os.path.join(work, "copy.txt"), "w") as f:
        for folder, names in by_folder.items():
            f.write(("." + folder.replace("_INSTALL", "").replace("\\", "/")) + "\t" + " ".join(names) + "\n")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def run(out, cmd):
    with open(out, "wb") as f:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=f)
        _, status, usage = os.wait4(p.pid, 0)
        t1 = time.perf_counter()
    p.returncode = os.waitstatus_to_exitcode(status)
    print("%.4f %d %d" % (t1 - t0, usage.ru_maxrss, p.returncode))


def launch(stamp, out, cmd):
    if os.path.exists(stamp):
        os.unlink(stamp)
    with open(out, "wb") as f:
        start_ns = time.time_ns()
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=f)
        _, status, usage = os.wait4(p.pid, 0)
        t1 = time.perf_counter()
    p.returncode = os.waitstatus_to_exitcode(status)
    launched = -1.0
    for _ in range(400):
        try:
            with open(stamp) as f:
                launched = (int(f.read().strip()) - start_ns) / 1e9
            break
        except (OSError, ValueError):
            time.sleep(0.005)
    print("%.4f %.4f %d %d" % (t1 - t0, launched, usage.ru_maxrss, p.returncode))


def main(argv):
    cmd = argv[1]
    if cmd == "generate":
        generate(argv[2])
    elif cmd == "manifest":
        manifest(argv[2], argv[3])
    elif cmd == "port":
        print(free_port())
    elif cmd == "run":
        assert argv[3] == "--"
        run(argv[2], argv[4:])
    elif cmd == "launch":
        assert argv[4] == "--"
        launch(argv[2], argv[3], argv[5:])
    elif cmd == "median":
        print("%.4f" % statistics.median(float(x) for x in argv[2:]))
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv)
