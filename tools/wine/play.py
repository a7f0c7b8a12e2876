#!/usr/bin/env python3
"""The Win32 player: a `handheld play` scenario against Pelorn.exe under Wine, on the real clock.

    tools/wine/play.py [--handheld PATH] BUILD SCRIPT

BUILD holds Pelorn.exe, play_hand.exe and modem_lines.so (scripts/test-win32.sh builds them).
The script is read by `handheld steps` (the one parser of the language); the steps are carried out
by play_hand.exe inside Wine (clicks, boxes, messages, the registry) and here (COM1's other end, a
pseudo-terminal, and the clock). Prints the trace Pelorn writes (PELORN_TRACE) and what `reg query`
steps print, as `handheld play` does; exits 1 on a step that cannot be carried out.

The machine is one Xvfb display, one Wine prefix set up as a handheld's registry is, and COM1
mapped to a pseudo-terminal; every scenario starts from the prefix's registry as it was set up.

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
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

import effects

TIMER_SLACK_MS = 25
QUIET_MS = 60
QUIET_AFTER_SLEEP_MS = 300  # more than the tray takes to answer a tick's Shell_NotifyIcon
BYTE_SECONDS = 10 / 4800  # 8N1 at 4800 baud
SCREEN = (240, 320)
TAP_ROW = 307  # the taskbar's middle row, as the host's stylus taps it
DESKTOP_REG = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="%dx%d"

[HKEY_CURRENT_USER\Software\MicroSoft\Shell]

[HKEY_CURRENT_USER\ControlPanel\Backlight]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Power\Timeouts]

[HKEY_LOCAL_MACHINE\Software\Handheld\Power]
"ACLine"=dword:00000000

[HKEY_CURRENT_USER\Software\Handheld\Gpio]
"GPLR1"=dword:00000000
""" % SCREEN


class StepError(Exception):
    def __init__(self, line, message):
        super().__init__(message)
        self.line = line


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Machine:
    """A display, a prefix and a pseudo-terminal for COM1, made once and reset for each scenario."""

    def __init__(self, build, work):
        self.build = os.path.abspath(build)
        self.work = work = os.path.abspath(work)
        os.makedirs(work, exist_ok=True)
        self.prefix = os.path.join(work, "prefix")
        self.wine = os.environ.get("PELORN_WINE", shutil.which("wine64") or "/usr/lib/wine/wine64")
        server = os.environ.get("PELORN_WINESERVER", "/usr/lib/wine/wineserver64")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINESERVER=server, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml=", LC_ALL="C.UTF-8",
                        PELORN_MODEM_LOG=os.path.join(work, "modem.log"))
        self.log = open(os.path.join(work, "wine.log"), "ab")
        display = os.path.join(work, "display")
        if os.path.exists(display):
            os.remove(display)
        self.xvfb = subprocess.Popen(["bash", "-c", 'exec Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$0"',
                                      display], stderr=self.log)
        for _ in range(100):
            if os.path.exists(display) and os.path.getsize(display):
                break
            time.sleep(0.1)
        with open(display) as f:
            self.env["DISPLAY"] = ":" + f.read().strip()
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.slave = slave
        self.pty = os.ttyname(slave)
        self.nodevice = os.path.join(work, "nodevice")
        if os.path.exists(self.nodevice):
            os.remove(self.nodevice)
        socket.socket(socket.AF_UNIX).bind(self.nodevice)  # open(2) fails on it: no device
        self.snapshot = os.path.join(work, "snapshot")
        if not os.path.isdir(self.snapshot):  # a machine's prefix is set up once
            self.run("wineboot", "-i")
            reg = os.path.join(work, "device.reg")
            with open(reg, "w") as f:
                f.write(DESKTOP_REG)
            self.run("reg", "import", windows_path(reg))
            self.server("-k")
            self.server("-w")
            os.makedirs(self.snapshot + ".tmp", exist_ok=True)
            for name in ("system.reg", "user.reg", "userdef.reg"):
                shutil.copy2(os.path.join(self.prefix, name), self.snapshot + ".tmp")
            os.rename(self.snapshot + ".tmp", self.snapshot)

    def run(self, *args):
        return subprocess.run([self.wine, *args], env=self.env, stdout=subprocess.PIPE, stderr=self.log,
                              check=False).stdout.decode(errors="replace")

    def server(self, flag):
        subprocess.run([self.env["WINESERVER"], flag], env=self.env, stderr=self.log, check=False)

    def reset(self):
        """The registry as set up, COM1 on the pseudo-terminal, nothing left unread on it."""
        self.server("-k")
        self.server("-w")
        for name in os.listdir(self.snapshot):
            shutil.copy2(os.path.join(self.snapshot, name), self.prefix)
        # Wine makes the port's link from this when its services start.
        self.run("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", self.pty, "/f")
        self.map_com1(self.pty)
        termios.tcflush(self.slave, termios.TCIOFLUSH)

    def map_com1(self, target):
        link = os.path.join(self.prefix, "dosdevices", "com1")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(target, link)

    def close(self):
        self.server("-k")
        self.xvfb.kill()
        self.xvfb.wait()


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


class Com1(threading.Thread):
    """The receiver's end of COM1: the scenario's bytes at 4800 baud, from the moment the program
    opens the port, as the virtual handheld's receiver sends them."""

    def __init__(self, master, slave):
        super().__init__(daemon=True)
        self.master = master
        self.slave = slave
        self.cond = threading.Condition()
        self.queue = bytearray()
        self.open = False
        self.stop = False

    def give(self, data):
        with self.cond:
            self.queue += data
            self.cond.notify()

    def silent(self):
        with self.cond:
            self.queue.clear()

    def opened(self, is_open):
        with self.cond:
            self.open = is_open
            if not is_open:
                # What the program did not read goes with the port, as on the handheld.
                self.queue.clear()
                termios.tcflush(self.slave, termios.TCIFLUSH)
            self.cond.notify()

    def run(self):
        next_at = 0.0
        while True:
            with self.cond:
                while not self.stop and not (self.open and self.queue):
                    self.cond.wait()
                if self.stop:
                    return
                byte = bytes(self.queue[:1])
                del self.queue[:1]
            now = time.monotonic()
            next_at = max(next_at, now)
            time.sleep(max(0.0, next_at - now))
            os.write(self.master, byte)
            next_at += BYTE_SECONDS


class Player:
    def __init__(self, machine, out):
        self.m = machine
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

    def ask(self, *words):
        self.hand.stdin.write(("\t".join(str(w) for w in words) + "\n").encode())
        self.hand.stdin.flush()
        answer = self.hand.stdout.readline().decode(errors="replace").rstrip("\r\n")
        if not answer:
            raise RuntimeError("play_hand.exe ended")
        return answer

    def after_start(self):
        """Start-up is over: the clock reads the program's latest record, so that its timers,
        set at the end of start-up, fall due as on the virtual clock."""
        latest = self.trace.latest()
        if latest is not None:
            self.clock = max(self.clock, latest)

    def after_program(self, slept):
        """A step that the program answered: on the virtual clock it took only the time the
        program slept in it; Wine's own time to carry it out is not the scenario's. As on the
        virtual clock, what fell due meanwhile (a tick) is served before the next step: until
        the trace has been quiet for QUIET_MS."""
        # A timer falls due during a step only while the program sleeps in it; the tick it
        # starts then may wait on Wine's tray for longer than QUIET_MS.
        self.trace.latest()
        quiet = (QUIET_AFTER_SLEEP_MS if self.trace.slept > slept else QUIET_MS) / 1000
        limit = time.monotonic() + 2
        while time.monotonic() < limit and self.trace.arrived > time.monotonic() - quiet:
            time.sleep(0.005)
            self.trace.latest()
        self.clock += self.trace.slept - slept
        self.after_timer()

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
            if state != "ok running":
                if state == "ok exited":
                    self.running = False
                return
            time.sleep(0.005)
        raise StepError(s["line"], "start: the program did not finish starting in 20 s")

    def step(self, s):
        kind, args = s["step"], s["args"]
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
            self.ask("text", r"Software\Handheld\Trace", "Fail", "-")
            answer = self.ask("start", windows_path(os.path.join(self.m.build, "Pelorn.exe")), windows_path(path), ",".join(self.faults) or "-", self.event)
            if not answer.startswith("ok"):
                raise StepError(s["line"], "start: " + answer)
            self.faults = []
            self.running = True
            self.started_up(s)
            self.after_start()
        elif kind == "wait":
            self.collect_reg()
            self.clock += int(args[0]) / 1000
            time.sleep(max(0.0, self.clock + TIMER_SLACK_MS / 1000 - time.monotonic()))
        elif kind in ("tap", "pick", "ok", "send", "signal"):
            slept = self.trace.slept
            if kind == "tap":
                answer = self.ask("tap", "icon" if s["icon"] else args[0], TAP_ROW)
            elif kind == "pick":
                items = [None if i is None else i.replace("&&", "\0").replace("&", "").replace("\0", "&")
                         for i in self.trace.menu]
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
                answer = self.ask("ok")
            if not answer.startswith("ok"):
                raise StepError(s["line"], kind + ": " + answer[6:])
            seen = answer[3:]
            if kind == "tap" and seen:
                self.effects.seen_menu(tuple(int(v) for v in seen.split()))
            elif kind == "ok" and seen.split("\t")[1:2] != [""]:
                self.effects.seen_box(seen)
            self.after_program(slept)
        else:
            raise StepError(s["line"], "the Win32 player has no step " + kind)

    def play(self, steps):
        self.clock = self.begun = time.monotonic()
        try:
            for s in steps:
                began = time.monotonic()
                self.step(s)
                if os.environ.get("PELORN_PLAY_DEBUG"):
                    sys.stderr.write("%.3f line %d %s: %.0f ms\n" % (began - self.begun, s["line"], s["step"],
                                                                    (time.monotonic() - began) * 1000))
            self.collect_reg()
            # The program goes on until it waits for the person again, or its process ends.
            if self.running:
                self.ask("settle")
                limit = time.monotonic() + 2
                while time.monotonic() < limit and self.ask("state") == "ok running" and \
                        (self.trace.latest() or 0) > time.monotonic() - 0.2:
                    time.sleep(0.02)
            self.trace.latest()
            backlight = [self.ask("get", r"Software\Handheld\Backlight", name)[3:] for name in ("Requests", "Level")]
            problems = self.effects.finish(" ".join(backlight))
            if problems:
                raise StepError(steps[-1]["line"] if steps else 0, "; ".join(problems))
        finally:
            # The end of the script ends the process: nothing it does after is shown.
            end = time.monotonic()
            self.effects.close()
            self.trace.drain(end)
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


def play(machine, handheld, script, out, err):
    """Runs one scenario on the machine; 0, or 1 on a step that could not be carried out."""
    try:
        steps = steps_of(handheld, script)
    except StepError as e:
        err.write(str(e) + "\n")
        return 1
    machine.reset()
    player = Player(machine, out)
    try:
        player.play(steps)
    except StepError as e:
        err.write("%s:%d: %s\n" % (script, e.line, e))
        return 1
    return 0


def main(argv):
    handheld = "build/tools/handheld"
    if len(argv) > 2 and argv[1] == "--handheld":
        handheld = argv[2]
        argv = argv[:1] + argv[3:]
    if len(argv) != 3:
        sys.stderr.write("usage: tools/wine/play.py [--handheld PATH] BUILD SCRIPT\n")
        return 2
    work = tempfile.mkdtemp(prefix="wine-play-")
    machine = Machine(argv[1], work)
    try:
        return play(machine, handheld, argv[2], sys.stdout, sys.stderr)
    finally:
        machine.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
