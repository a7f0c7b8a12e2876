#!/usr/bin/env python3
"""The Win32 player: a `handheld play` scenario against Pelorn.exe under Wine, on the real clock.

    tools/wine/play.py [--handheld PATH] [--untraced] BUILD SCRIPT...

BUILD holds Pelorn.exe, play_hand.exe and modem_lines.so (scripts/test-win32.sh builds them).
The script is read by `handheld steps` (the one parser of the language); the steps are carried out
by play_hand.exe inside Wine (clicks, boxes, messages, the registry) and here (COM1's other end, a
pseudo-terminal, and the clock). Prints the trace Pelorn writes (PELORN_TRACE) and what `reg query`
steps print, as `handheld play` does; exits 1 on a step that cannot be carried out, or when what
the Win32 layer did differs from what the records say (tools/wine/effects.py).

--untraced runs the program with recording off, as it runs on a handheld, and holds what the
desktop, the port and the stand-ins saw against the host's records of the same scenario
(`handheld play --as-returned`), with the About box's end code from Wine's own dialog log. It
prints a line per scenario that passed; a scenario with `fail` steps cannot be played so.
PELORN_PLAY_SHOTS=DIR photographs the screen into DIR before each `ok`.

The machine is one Xvfb display, one Wine prefix set up as a handheld's registry is, and COM1
mapped to a pseudo-terminal (machine.py); every scenario starts from the prefix's registry as it was set up.

Time: the virtual clock's steps take no time and a wait ends when its time is up. Here a step
takes what Wine takes, so the player keeps the scenario's clock as the virtual one would read it:
it moves on by each wait, by the time the program slept in a step, and after a start to the
program's latest record (its timers start at the end of start-up). A wait ends TIMER_SLACK_MS
after that clock's time, so that a timer due at the wait's end fires before the next step, as it
does on the virtual clock; after a step the program answered, the next one waits until the trace
has been quiet for QUIET_MS, so that a tick that fell due meanwhile is served first.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import effects
from machine import Com1, Machine, windows_path

TIMER_SLACK_MS = 25
QUIET_MS = 60
QUIET_AFTER_SLEEP_MS = 300  # more than the tray takes to answer a tick's Shell_NotifyIcon
TAP_ROW = 307  # the taskbar's middle row, as the host's stylus taps it
class StepError(Exception):
    def __init__(self, line, message):
        super().__init__(message)
        self.line = line


class Output:
    """What the player prints, in one place: trace lines as Pelorn wrote them, `reg query` text."""

    def __init__(self, out):
        self.out = out

    def record(self, line):
        self.out.write(line + "\n")

    def query(self, text):
        self.out.write(text)


class Trace(threading.Thread):
    """Follows the running process's trace file: keeps its records with their real times, and
    gives COM1 the scenario's bytes while the program has it open."""

    def __init__(self, output):
        super().__init__(daemon=True)
        self.output = output
        self.lock = threading.Lock()
        self.file = None
        self.epoch = None
        self.last = None  # real time of the latest record
        self.pending = []  # record lines not printed yet, with their real times
        self.port = None  # a callback for COM1: opened (True) or closed (False)
        self.stop = False
        self.slept = 0.0  # seconds the program slept, as its Sleep records say
        self.arrived = 0.0  # when the latest record was read
        self.effects = None  # what holds the records against what the desktop and the devices saw

    def follow(self, path):
        with self.lock:
            self.drain_locked(None)
            self.file = open(path, "a+", encoding="utf-8")
            self.file.seek(0)
            self.epoch = None
            self.partial = ""
            if self.effects:
                self.effects.new_process()
            self.created = self.shown = False
            self.menu = []  # the items of the menu the process made, as it appended them
            self.timer_at = None  # real time of the latest SetTimer
            self.quitting = False  # the process asked to end

    def run(self):
        while not self.stop:
            with self.lock:
                self.read_locked()
            time.sleep(0.002)

    def read_locked(self):
        if not self.file:
            return
        self.partial += self.file.read()
        while "\n" in self.partial:
            line, self.partial = self.partial.split("\n", 1)
            now = self.arrived = time.monotonic()
            record = json.loads(line)
            if self.effects:
                self.effects.record(record)
            if self.epoch is None:
                self.epoch = now - record["t"] / 1000
            at = self.epoch + record["t"] / 1000
            self.last = max(self.last or at, at)
            self.pending.append((at, line))
            if record["call"] == "SetTimer":
                self.timer_at = at
            elif record["call"] == "PostQuitMessage":
                self.quitting = True
            if record["call"] == "Sleep":
                self.slept += record.get("dwMilliseconds", 0) / 1000
            if record["call"] == "CreatePopupMenu":
                self.menu = []
            elif record["call"] == "AppendMenu":
                self.menu.append(record.get("lpNewItem"))
            if record["call"] == "CreateWindowEx":
                self.created = True
            elif record["call"] == "ShowWindow" and self.created:
                self.shown = True
            name = str(record.get("lpFileName", "")).upper()
            if record["call"] == "CreateFile" and name == "COM1:" and record.get("result") != -1 and self.port:
                self.port(True)
            if record["call"] == "CloseHandle" and record.get("device") == "COM1:" and self.port:
                self.port(False)

    def drain_locked(self, until):
        if self.file:
            self.read_locked()
        keep = []
        for at, line in self.pending:
            if until is None or at <= until:
                self.output.record(line)
            else:
                keep.append((at, line))
        self.pending = keep if until is not None else []

    def drain(self, until=None):
        with self.lock:
            self.drain_locked(until)

    def shown_main(self):
        with self.lock:
            self.read_locked()
            return self.shown

    def latest(self):
        with self.lock:
            self.read_locked()
            return self.last


class Player:
    def __init__(self, machine, out, host=None):
        """`host`: the host's records of the scenario, to play it untraced against them."""
        self.m = machine
        self.host = host and [r for r in host if "call" in r]
        # Untraced, the clock follows the host's: when each step began there, and when it ended.
        self.host_at = {r["line"]: r["t"] for r in host or () if "step" in r}
        waits = [r["t"] + int(r["step"].split()[1]) for r in host or () if r.get("step", "").startswith("wait")]
        self.host_end = max([r["t"] for r in host or ()] + waits + [0])
        self.host_anchor = None  # the host's time when the clock was last set
        self.output = Output(out)
        self.trace = Trace(self.output)
        self.com1 = Com1(machine.master, machine.slave)
        self.trace.port = self.com1.opened
        self.effects = self.trace.effects = effects.Effects(machine.master, machine.slave)
        self.clock = None  # the scenario's clock: real time of the virtual clock's now
        self.started = 0
        self.running = False
        self.faults = []
        self.reg = []  # reg steps not yet collected: (line, whether a query)
        env = dict(machine.env, LD_PRELOAD=os.path.join(machine.build, "modem_lines.so"))
        self.hand = subprocess.Popen([machine.wine, os.path.join(machine.build, "play_hand.exe")], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=machine.log)
        self.trace.start()
        self.com1.start()
        if host is not None:
            threading.Thread(target=self.watch_com1, daemon=True).start()

    def watch_com1(self):
        """Untraced, no record tells when the program opens COM1: the pseudo-terminal does."""
        was = False
        while not self.com1.stop:
            now = self.m.com1_open()
            if now != was:
                self.com1.opened(now)
                was = now
            time.sleep(0.005)

    def ask(self, *words):
        self.hand.stdin.write(("\t".join(str(w) for w in words) + "\n").encode())
        self.hand.stdin.flush()
        answer = self.hand.stdout.readline().decode(errors="replace").rstrip("\r\n")
        if not answer:
            raise RuntimeError("play_hand.exe ended")
        return answer

    def follow_host(self, host_t):
        """Untraced: until the host's time HOST_T, counted from the end of the latest start-up."""
        if self.host_anchor is not None:
            time.sleep(max(0.0, self.clock + (host_t - self.host_anchor) / 1000 - time.monotonic()))

    def after_start(self):
        """Start-up is over: the clock reads the program's latest record, so that its timers,
        set at the end of start-up, fall due as on the virtual clock."""
        if self.host is not None:
            self.clock = time.monotonic()
            self.host_anchor = None
            return
        latest = self.trace.latest()
        if latest is not None:
            self.clock = max(self.clock, latest)

    def after_program(self, slept, line):
        """A step that the program answered: on the virtual clock it took only the time the
        program slept in it; Wine's own time to carry it out is not the scenario's. As on the
        virtual clock, what fell due meanwhile (a tick) is served before the next step: until
        the trace has been quiet for QUIET_MS."""
        # A timer falls due during a step only while the program sleeps in it; the tick it
        # starts then may wait on Wine's tray for longer than QUIET_MS.
        if self.host is not None:
            # Untraced, the host's records tell whether the program slept in the step; a tick
            # due by its end is served before the next step's message, which would go first.
            if self.host_slept(line):
                time.sleep(QUIET_AFTER_SLEEP_MS / 1000)
            return
        self.trace.latest()
        quiet = (QUIET_AFTER_SLEEP_MS if self.trace.slept > slept else QUIET_MS) / 1000
        limit = time.monotonic() + 2
        while time.monotonic() < limit and self.trace.arrived > time.monotonic() - quiet:
            time.sleep(0.005)
            self.trace.latest()
        self.clock += self.trace.slept - slept
        self.after_timer()

    def host_slept(self, line):
        """Whether the program slept in the step on LINE, by the host's records of it."""
        begun = self.host_at.get(line)
        if begun is None:
            return False
        following = [t for other, t in self.host_at.items() if other > line]
        ended = min(following) if following else self.host_end + 1
        return any(r["call"] == "Sleep" and begun <= r["t"] < ended for r in self.host)

    def after_timer(self):
        """A timer started in a step (start-up that an `ok` let finish): on the virtual clock it
        started at the scenario's time, so the clock reads the real time it started."""
        with self.trace.lock:
            at, self.trace.timer_at = self.trace.timer_at, None
        if at is not None:
            self.clock = max(self.clock, at)

    def collect_reg(self):
        """What the reg steps so far did: reg.exe runs beside the scenario, as Wine is slow to
        start it; a query's text is shown after the records written before it is collected."""
        if not self.reg:
            return
        count = int(self.ask("regwait").split()[1])
        for line, is_query in self.reg[:count]:
            code, lines = self.hand.stdout.readline().decode().split()
            text = "".join(self.hand.stdout.readline().decode(errors="replace") for _ in range(int(lines)))
            if is_query:
                self.trace.drain(time.monotonic())
                self.output.query(text)
            elif code != "0":
                raise StepError(line, "reg: " + text.strip())
        self.reg = self.reg[count:]

    def started_up(self, s):
        """Until the new process's start-up is over: its main window is shown (hidden, here), or
        a box waits for the person, or the process ended."""
        limit = time.monotonic() + 20
        while time.monotonic() < limit:
            if self.trace.shown_main():
                self.ask("settle")
                return
            state = self.ask("state")
            if state == "ok running window" and self.host is not None:
                self.ask("settle")  # until the loop (or a box's) takes messages
                return
            if not state.startswith("ok running"):
                if state.startswith("ok exited"):
                    self.running = False
                return
            time.sleep(0.005)
        raise StepError(s["line"], "start: the program did not finish starting in 20 s")

    def step(self, s):
        kind, args = s["step"], s["args"]
        if self.host is not None and s["line"] in self.host_at:
            self.follow_host(self.host_at[s["line"]])
            if self.host_anchor is None and kind != "start":
                self.host_anchor = self.host_at[s["line"]]
        if kind in ("send", "tap", "pick", "ok", "signal") and any(not query for _, query in self.reg):
            self.collect_reg()  # the program must see what the registry steps before wrote
        if kind == "reg":
            answer = self.ask("reg", *args)
            if answer != "ok":
                raise StepError(s["line"], "reg: " + answer)
            self.reg.append((s["line"], args[0].lower() == "query"))
        elif kind == "power":
            self.ask("dword", r"HKLM\Software\Handheld\Power", "ACLine",
                     {"battery": 0, "online": 1, "unknown": 255}[args[0]])
        elif kind == "pin38":
            # The stand-in's pin reads as last set: the hardware's hold and its release are one.
            if args[0] != "released":
                self.ask("dword", r"Software\Handheld\Gpio", "GPLR1", 0x40 if args[0] == "high" else 0)
        elif kind == "absent":
            if args[0].upper() == "BKL1:":
                self.ask("dword", r"Software\Handheld\Backlight", "Absent", 1)
            else:
                self.m.map_com1(self.m.nodevice)
        elif kind == "com1":
            if args[0] == "silent":
                self.com1.silent()
            else:
                self.com1.give(bytes.fromhex(s["bytes"]))
        elif kind == "fail" and self.host is not None:
            raise StepError(s["line"], "fail: faults need the recording on")
        elif kind == "fail":
            fault = args[0] + ":" + (args[1] if len(args) > 1 else "1")
            if self.running and not self.trace.quitting:
                self.ask("text", r"Software\Handheld\Trace", "Fail", fault)
                self.ask("event", self.event)
            else:
                self.faults.append(fault)
        elif kind == "start":
            self.started += 1
            path = os.path.join(self.m.work, "trace-%d.jsonl" % self.started)
            open(path, "w").close()
            self.collect_reg()
            self.trace.follow(path)
            self.event = "PelornPlayFaults%d" % self.started
            traced = self.host is None
            if traced:  # faults named before a start: Trace\Fail, read at start
                self.ask("text", r"Software\Handheld\Trace", "Fail", ",".join(self.faults) or "-")
            answer = self.ask("start", windows_path(os.path.join(self.m.build, "Pelorn.exe")),
                              windows_path(path) if traced else "-", "-", self.event if traced else "-")
            if not answer.startswith("ok"):
                raise StepError(s["line"], "start: " + answer)
            self.faults = []
            self.running = True
            self.started_up(s)
            self.after_start()
        elif kind == "wait" and self.host is not None:
            self.collect_reg()
        elif kind == "wait":
            self.collect_reg()
            self.clock += int(args[0]) / 1000
            time.sleep(max(0.0, self.clock + TIMER_SLACK_MS / 1000 - time.monotonic()))
        elif kind in ("tap", "pick", "ok", "send", "signal"):
            slept = self.trace.slept
            if kind == "tap":
                answer = self.ask("tap", "icon" if s["icon"] else args[0], TAP_ROW)
            elif kind == "pick":
                menu = self.trace.menu
                if self.host is not None:  # the host's menu as the tap made it
                    for r in self.host:
                        if r["t"] > self.host_at.get(s["line"], 0):
                            break
                        menu = [] if r["call"] == "CreatePopupMenu" else menu + [r.get("lpNewItem")] \
                            if r["call"] == "AppendMenu" else menu
                items = [None if i is None else i.replace("&&", "\0").replace("&", "").replace("\0", "&")
                         for i in menu]
                if s["none"]:
                    answer = self.ask("pick")
                elif args[0] not in items:
                    raise StepError(s["line"], 'pick: the menu has no item "%s"' % args[0])
                else:
                    answer = self.ask("pick", items.index(args[0]), len(items))
            elif kind == "send":
                answer = self.ask("send", s["msg"], s["wparam"])
            elif kind == "signal":
                answer = self.ask("close")
            else:
                if os.environ.get("PELORN_PLAY_SHOTS"):  # what the person sees before pressing OK
                    time.sleep(0.5)  # the box paints in its own time
                    subprocess.run(["import", "-window", "root", os.path.join(os.environ["PELORN_PLAY_SHOTS"], "%s-%d.png" % (
                        os.path.basename(self.script), s["line"]))], env=self.m.env, check=False)
                answer = self.ask("ok")
            if not answer.startswith("ok"):
                raise StepError(s["line"], kind + ": " + answer[6:])
            seen = answer[3:]
            if kind == "tap" and seen and self.host is None:  # untraced, the host's column is the tap's
                self.effects.seen_menu(tuple(int(v) for v in seen.split()))
            elif kind == "ok" and seen.split("\t")[1:2] != [""]:
                self.effects.seen_box(seen)
            elif kind == "send" and seen:  # it returned before a box or menu waited
                self.output.record(json.dumps({"step": "send", "line": s["line"], "result": int(seen)}))
            self.after_program(slept, s["line"])
        else:
            raise StepError(s["line"], "the Win32 player has no step " + kind)

    def seen(self):
        """What the stand-ins, the modem lines, the process and the desktop show at the end."""
        def get(key, *names):
            return tuple(int(self.ask("get", "Software\\Handheld\\" + key, n)[3:]) for n in names)
        writes = self.ask("get", r"Software\Handheld\Gpio", "Writes")[3:]
        with open(self.m.env["PELORN_MODEM_LOG"]) as f:
            seen = {"backlight": get("Backlight", "Requests", "Level"),
                    "hal": get("Hal", "Calls", "IoControlCode", "Input"),
                    "gpio": "" if writes == "0" else writes, "lines": f.read().splitlines()}
        if self.host is not None:
            ended = False  # a new process's first call follows the last one's PostQuitMessage
            for r in self.host:
                if r["call"] == "LoadString" and ended:
                    self.effects.new_process()
                ended = (ended or r["call"] == "PostQuitMessage") and r["call"] != "LoadString"
                self.effects.record(r)
            with open(self.m.log_path, errors="replace") as f:
                f.seek(self.m.log_start)
                seen["dialogs"] = [int(line.split()[-1]) for line in f if "trace:dialog:EndDialog" in line]
        state = self.ask("state")
        self.end = time.monotonic()
        if state.startswith("ok exited"):
            seen["exit"] = int(state.split()[2])
        elif state.startswith("ok running"):
            seen["tray"] = int(self.ask("tray")[3:])
            seen["visible"] = int(self.ask("show")[3:])
        return seen

    def play(self, steps):
        self.end = None
        self.clock = self.begun = time.monotonic()
        try:
            for s in steps:
                began = time.monotonic()
                self.step(s)
                if os.environ.get("PELORN_PLAY_DEBUG"):
                    sys.stderr.write("%.3f line %d %s: %.0f ms\n" % (began - self.begun, s["line"], s["step"],
                                                                    (time.monotonic() - began) * 1000))
            self.collect_reg()
            if self.host is not None:
                self.follow_host(self.host_end + TIMER_SLACK_MS * 4)
            # The program goes on until it waits for the person again, or its process ends.
            if self.running:
                self.ask("settle")
                limit = time.monotonic() + 2
                while time.monotonic() < limit and self.ask("state").startswith("ok running") and \
                        (self.trace.latest() or 0) > time.monotonic() - 0.2:
                    time.sleep(0.02)
            self.trace.latest()
            problems = self.effects.finish(self.seen())
            if problems:
                raise StepError(steps[-1]["line"] if steps else 0, "; ".join(problems))
        finally:
            self.effects.close()
            # The end of the script ends the process: nothing it does after is shown.
            self.trace.drain(self.end)
            self.ask("end")
            self.trace.stop = True
            self.com1.stop = True
            self.com1.opened(False)
            self.hand.stdin.close()
            self.hand.wait()


def steps_of(handheld, script):
    done = subprocess.run([handheld, "steps", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise StepError(0, done.stderr.strip())
    return [json.loads(line) for line in done.stdout.splitlines()]


def host_records(handheld, script):
    done = subprocess.run([handheld, "play", "--as-returned", script], stdout=subprocess.PIPE, text=True)
    return [json.loads(line) for line in done.stdout.splitlines()]


def play(machine, handheld, script, out, err, untraced=False):
    """Runs one scenario on the machine; 0, or 1 on a step that could not be carried out."""
    try:
        steps = steps_of(handheld, script)
    except StepError as e:
        err.write(str(e) + "\n")
        return 1
    machine.reset()
    player = Player(machine, out, host_records(handheld, script) if untraced else None)
    player.script = script
    try:
        player.play(steps)
    except StepError as e:
        err.write("%s:%d: %s\n" % (script, e.line, e))
        return 1
    return 0


def main(argv):
    args = argv[1:]
    handheld, untraced = "build/tools/handheld", False
    while args and args[0].startswith("--"):
        if args[0] == "--handheld" and len(args) > 1:
            handheld, args = args[1], args[2:]
        elif args[0] == "--untraced":
            untraced, args = True, args[1:]
        else:
            break
    if len(args) < 2:
        sys.stderr.write("usage: tools/wine/play.py [--handheld PATH] [--untraced] BUILD SCRIPT...\n")
        return 2
    work = tempfile.mkdtemp(prefix="wine-play-")
    machine = Machine(args[0], work)
    status = 0
    try:
        for script in args[1:]:
            failed = play(machine, handheld, script, open(os.devnull, "w") if untraced else sys.stdout,
                          sys.stderr, untraced)
            if untraced and not failed:
                print("%s: untraced, as the host's records say" % script)
            status |= failed
        return status
    finally:
        machine.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
