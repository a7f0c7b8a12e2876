#!/usr/bin/env python3
"""Random kills on a busy device: pelorn, two writers (`reg add`), an importer and readers
(`reg query`, `status`, `check`) run at once while processes among them are SIGKILLed at random
moments. Counts what no kill may cause, each of which must be 0:

  lost     a value whose `reg add` had reported success, missing afterwards
  torn     a value holding other bytes than the ones written
  partial  the imported key seen (by a reader or at the end) neither wholly as one file nor the other
  damaged  any process saying the registry is damaged (it never is)

  bench/kill_storm.py [BUILD] [KILLS]     (defaults: build, 500; PELORN_SEED=... replays the kills)
"""
import atexit
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
kills_wanted = int(sys.argv[2]) if len(sys.argv) > 2 else 500
handheld = os.path.join(build, "tools", "handheld")
pelorn = os.path.join(build, "tools", "pelorn")
for exe in (handheld, pelorn):
    if not os.access(exe, os.X_OK):
        sys.exit(f"kill_storm: no {exe} (build the pelorn and handheld targets)")
seed = int(os.environ.get("PELORN_SEED", random.SystemRandom().randrange(1 << 31)))
rng = random.Random(seed)
root = tempfile.mkdtemp(prefix="pelorn-storm-")
device = os.path.join(root, "device")
env = dict(os.environ, PELORN_DEVICE=device)
env.pop("PELORN_REGISTRY_FAULT", None)
IMPORTED = 2000


def data(writer, k):
    return f"{writer}-{k}-" + "x" * (k % 300)


def import_file(tag):
    path = os.path.join(root, tag + ".reg")
    with open(path, "w") as f:
        f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Storm\\Imported]\n")
        for i in range(IMPORTED):
            f.write(f'"V{i}"="{tag}-{i}"\n')
    return path


files = [import_file("a"), import_file("b")]
counts = dict(kills=0, reported=0, imports=0, lost=0, torn=0, partial=0, damaged=0, reads=0, busy=0)


def wholly(text):
    """'a' or 'b' when the imported key is wholly one file, else why not."""
    tags = re.findall(r"    V\d+    REG_SZ    ([ab])-\d+", text)
    if len(tags) == IMPORTED and len(set(tags)) == 1:
        return tags[0]
    return f"{tags.count('a')} a, {tags.count('b')} b"


def looked(out, err):
    if "damaged" in out + err:
        counts["damaged"] += 1
        print("damaged:", (out + err).strip()[:300], file=sys.stderr)
    if "busy" in err:
        counts["busy"] += 1


class Role:
    """One process slot, restarted whenever its process ends."""

    def __init__(self, name, weight):
        self.name, self.weight, self.proc, self.k, self.file = name, weight, None, 0, 0

    def start(self):
        if self.name == "pelorn":
            args = [pelorn, "--headless"]
        elif self.name.startswith("writer"):
            self.k += 1
            args = [handheld, "reg", "add", f"HKCU\\Storm\\{self.name}", "/v", f"n{self.k}", "/d",
                    data(self.name, self.k), "/f"]
        elif self.name == "importer":
            self.file ^= 1
            args = [handheld, "reg", "import", files[self.file]]
        elif self.name == "reader":
            args = [handheld] + rng.choice([["reg", "query", "HKCU\\Storm\\Imported"], ["status"], ["check"]])
        self.args = args
        out = subprocess.DEVNULL if self.name == "pelorn" else subprocess.PIPE
        self.proc = subprocess.Popen(args, env=env, stdout=out, stderr=subprocess.PIPE, text=True)

    def poll(self):
        if self.proc is None or self.proc.poll() is None:
            return
        out, err = self.proc.communicate()
        out = out or ""
        looked(out, err)
        rc = self.proc.returncode
        if self.name.startswith("writer") and rc == 0:
            counts["reported"] += 1
            reported.setdefault(self.name, []).append(self.k)
        if self.name == "importer" and rc == 0:
            counts["imports"] += 1
        if self.name == "reader" and rc == 0 and self.args[1:3] == ["reg", "query"]:
            counts["reads"] += 1
            if wholly(out) not in ("a", "b"):
                counts["partial"] += 1
                print("partial read:", wholly(out), file=sys.stderr)
        self.proc = None
        self.start()


reported = {}
kills_by = {}
subprocess.run([handheld, "--new", "reg", "import", files[0]], env=env, check=True, capture_output=True)
subprocess.run([handheld, "set", "pin38=high"], env=env, check=True, capture_output=True)
roles = [Role("pelorn", 1), Role("writer1", 3), Role("writer2", 3), Role("importer", 4), Role("reader", 2)]


def end_all():
    for r in roles:
        if r.proc is not None and r.proc.poll() is None:
            r.proc.send_signal(signal.SIGKILL)
            r.proc.wait()


atexit.register(end_all)  # also when the storm itself fails: nothing of it runs on
for r in roles:
    r.start()
start = time.time()
while counts["kills"] < kills_wanted:
    deadline = time.time() + rng.uniform(0.005, 0.12)
    while time.time() < deadline:
        for r in roles:
            r.poll()
        time.sleep(0.002)
    victim = rng.choices(roles, weights=[r.weight for r in roles])[0]
    if victim.proc is not None and victim.proc.poll() is None:
        victim.proc.send_signal(signal.SIGKILL)
        victim.proc.wait()
        counts["kills"] += 1
        kills_by[victim.name] = kills_by.get(victim.name, 0) + 1
        victim.poll()
end_all()

check = subprocess.run([handheld, "check"], env=env, capture_output=True, text=True)
looked(check.stdout, check.stderr)
whole = subprocess.run([handheld, "reg", "query", "HKCU\\Storm\\Imported"], env=env, capture_output=True, text=True)
if wholly(whole.stdout) not in ("a", "b"):
    counts["partial"] += 1
for name, ks in reported.items():
    q = subprocess.run([handheld, "reg", "query", f"HKCU\\Storm\\{name}"], env=env, capture_output=True, text=True)
    looked(q.stdout, q.stderr)
    stored = dict(re.findall(r"    n(\d+)    REG_SZ    (\S+)", q.stdout))
    counts["lost"] += sum(str(k) not in stored for k in ks)
    for k, v in stored.items():  # a killed add is there whole or not at all
        if v != data(name, int(k)):
            counts["torn"] += 1
print(f"kill storm: PELORN_SEED={seed}, {time.time() - start:.0f} s, check: {check.stdout.strip() or check.stderr.strip()}")
print(" ".join(f"{k}={v}" for k, v in counts.items()))
print("kills of " + ", ".join(f"{k}: {v}" for k, v in sorted(kills_by.items())))
shutil.rmtree(root, ignore_errors=True)
bad = counts["lost"] + counts["torn"] + counts["partial"] + counts["damaged"] + (check.stdout != "ok\n")
sys.exit(1 if bad else 0)
