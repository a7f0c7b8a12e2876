#!/usr/bin/env python3
"""The registry's costs against their budgets, beside the floor of one pwrite+fdatasync:

  tick syncs         fsync/fdatasync calls of pelorn over a tick that writes both time-outs
  first-start syncs  ... of pelorn on a new device, up to the end of its first tick
  import 100k        `handheld reg import` of 100k values on a device (median wall time)
  query 10k          `handheld reg query` of a key of 10k values
  status 100k/empty  `handheld status` on a device of 100k values over one on an empty device

Prints each figure against its budget; exits 1 when one is exceeded. Needs strace (apt-get
install strace) and a C compiler.

  bench/registry_budgets.py [BUILD]     (default: build)
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
here = os.path.dirname(os.path.abspath(__file__))
handheld = os.path.join(build, "tools", "handheld")
pelorn = os.path.join(build, "tools", "pelorn")
for tool in ("strace", "cc"):
    if not shutil.which(tool):
        sys.exit(f"registry_budgets: {tool} is missing (apt-get install {tool})")
for exe in (handheld, pelorn):
    if not os.access(exe, os.X_OK):
        sys.exit(f"registry_budgets: no {exe} (build the pelorn and handheld targets)")
root = tempfile.mkdtemp(prefix="pelorn-budgets-")
results = []  # (figure, measured, budget, unit)


def on(device):
    return dict(os.environ, PELORN_DEVICE=os.path.join(root, device))


def run(device, *args):
    return subprocess.run([handheld, *args], env=on(device), capture_output=True, text=True, check=True)


def wall(device, *args, rounds=11):
    times = []
    for _ in range(rounds):
        t = time.perf_counter()
        run(device, *args)
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def reg_file(name, key, n):
    path = os.path.join(root, name)
    with open(path, "w") as f:
        f.write(f"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\{key}]\r\n")
        for i in range(n):
            f.write(f'"Value{i}"=dword:{i:x}\r\n')
    return path


def syncs(trace):
    """How many syncs the trace holds, and the milliseconds spent in them (strace -T)."""
    with open(trace) as f:
        calls = [line for line in f if re.search(r"\b(fsync|fdatasync)\(", line)]
    return len(calls), sum(float(m.group(1)) for m in (re.search(r"<([0-9.]+)>", c) for c in calls) if m) * 1000


def wait_for(log, text, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        with open(log) as f:
            if text in f.read():
                return True
        time.sleep(0.05)
    return False


# The floor: one pwrite of a page and one fdatasync, on the same disk.
subprocess.run(["cc", "-O2", "-o", os.path.join(root, "sync_floor"), os.path.join(here, "sync_floor.c")], check=True)
floor = float(subprocess.run([os.path.join(root, "sync_floor"), os.path.join(root, "floor.bin")],
                             capture_output=True, text=True, check=True).stdout)

# A first start, traced from its beginning to its first tick; then, in a second run on that
# device, a tick that writes both time-outs (the receiver powered: GPS's), traced alone.
log = os.path.join(root, "pelorn.log")
first = os.path.join(root, "first.strace")


def start_pelorn(*prefix):
    with open(log, "w") as out:
        return subprocess.Popen([*prefix, pelorn, "--new", "--headless"], env=on("fresh"), stdout=out,
                                stderr=subprocess.STDOUT)


p = start_pelorn("strace", "-f", "-qq", "-T", "-e", "trace=fsync,fdatasync", "-o", first)
if not wait_for(log, "profile in force"):
    sys.exit("registry_budgets: pelorn made no first tick:\n" + open(log).read())
first_syncs, first_ms = syncs(first)
run("fresh", "send", "close")
p.wait()
p = start_pelorn()
# A start writes the time-outs again on its first tick: watch the ticks after it.
if not wait_for(log, "time-out written: BattSuspendTimeout = 180 s"):
    sys.exit("registry_budgets: pelorn made no first tick:\n" + open(log).read())
tick = os.path.join(root, "tick.strace")
tracer = subprocess.Popen(["strace", "-f", "-qq", "-p", str(p.pid), "-T", "-e", "trace=fsync,fdatasync", "-o", tick])
time.sleep(0.5)
run("fresh", "set", "pin38=high")
if not wait_for(log, "time-out written: BattSuspendTimeout = never"):
    sys.exit("registry_budgets: the tick wrote no time-outs:\n" + open(log).read())
time.sleep(0.3)
tracer.send_signal(2)
tracer.wait()
if not os.path.exists(tick):
    sys.exit("registry_budgets: strace could not watch pelorn")
tick_syncs, tick_ms = syncs(tick)
run("fresh", "send", "close")
p.wait()
results += [("tick syncs", tick_syncs, 2, ""), ("first-start syncs", first_syncs, 8, "")]

# Scale: a 100k import on a device that holds a 10k key, the 10k key read, status on both.
ten = reg_file("ten.reg", "Ten", 10000)
big = reg_file("big.reg", "Imported", 100000)
imports = []
for i in range(3):
    shutil.rmtree(os.path.join(root, "big"), ignore_errors=True)
    run("big", "--new", "reg", "import", ten)
    t = time.perf_counter()
    run("big", "reg", "import", big)
    imports.append(time.perf_counter() - t)
results.append(("import 100k (s)", statistics.median(imports), 0.71, "s"))
results.append(("query 10k (ms)", wall("big", "reg", "query", "HKCU\\Software\\Ten") * 1000, 56, "ms"))
run("empty", "--new", "status")
# Taken in turns, so that the machine's other work weighs on both alike.
rounds = {"empty": [], "big": []}
for i in range(41):
    for device in rounds:
        t = time.perf_counter()
        run(device, "status")
        rounds[device].append(time.perf_counter() - t)
empty, full = statistics.median(rounds["empty"]), statistics.median(rounds["big"])
results.append(("status 100k/empty", full / empty, 1.4, ""))

print(f"floor: one pwrite of 4096 bytes + fdatasync = {floor:.3f} ms")
print(f"tick: {tick_syncs} syncs, {tick_ms:.3f} ms in them; first start: {first_syncs} syncs, {first_ms:.3f} ms")
print(f"status: {empty * 1000:.1f} ms on an empty device, {full * 1000:.1f} ms on 100k values")
exceeded = 0
for name, measured, budget, _ in results:
    ok = measured <= budget
    exceeded += not ok
    print(f"{name:20} {measured:10.3f}   budget {budget:8.3f}   {'ok' if ok else 'EXCEEDED'}")
shutil.rmtree(root, ignore_errors=True)
sys.exit(1 if exceeded else 0)
