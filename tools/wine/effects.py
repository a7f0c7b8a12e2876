"""What the Win32 layer really did, beside what the trace says it did: the Win32 player holds each
scenario's records against the effects another party sees.

- COM1: the pseudo-terminal's line speed after each SetCommState that succeeded is the record's
  BaudRate, and the bytes that reach the receiver's end are those of the WriteFile records to
  COM1: that succeeded, in order.
- COM1's modem lines: DTR and RTS end as the SetCommState and EscapeCommFunction records that
  succeeded leave them (modem_lines.so logs what Wine did to them).
- The stand-ins: the backlight counted as many requests as DeviceIoControl records to BKL1:
  succeeded and holds the level of the last one; the HAL's KernelIoControl likewise; the GPIO
  block got the GpioWrite records' writes, in order.
- The tray holds the icon as the last Shell_NotifyIcon add or delete that succeeded left it; the
  main window, shown and activated by another program, hides itself; an ended process's exit
  code is its PostQuitMessage's; dialogs and boxes end with the codes the records give them.
- Taps: a tap's menu runs in the loop, never inside another call (a tick's Shell_NotifyIcon).
- Boxes and menus: what the hand saw on the desktop (a box's caption and text, a menu's corners)
  is what the MessageBox and TrackPopupMenu records asked for.
"""
import os
import select
import termios
import threading

SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}
TPM_RIGHTALIGN, TPM_BOTTOMALIGN = 0x8, 0x20
# Calls that serve the queue (or make a window and so run its handlers) while they last; written
# when they return, with the time they began.
MODAL = {"CreateWindowEx", "DialogBoxParam", "MessageBox", "TrackPopupMenu"}


class Effects:
    def __init__(self, master, slave):
        self.slave = slave
        self.master = master
        self.problems = []
        self.written = bytearray()  # what WriteFile records say went to COM1:
        self.received = bytearray()  # what reached the receiver's end
        self.backlight = []  # the levels of the BKL1: requests that succeeded
        self.boxes = []  # message boxes the hand saw and no record has claimed yet
        self.asked = []  # MessageBox records no box the hand answered has claimed yet
        self.menus = []  # menus the hand saw, for the TrackPopupMenu records to come
        self.taps = 0
        self.nested = []  # the calls taps were served inside
        self.tap_at = None  # when the latest tap's handler began, on its process's clock
        self.hal = []  # the (code, input) of the KernelIoControl records that succeeded
        self.gpio = []  # the GpioWrite records' writes, as the stand-in logs them
        self.lines = {"DTR": False, "RTS": False}  # as the records leave them
        self.icon = 0  # the tray holds the icon, as the records say
        self.exit_code = 0
        self.dialogs = []  # how each dialog and box ended (EndDialog, or the box's answer)
        self.lock = threading.Lock()
        self.stop = False
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        while not self.stop:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    data = os.read(self.master, 4096)
                except OSError:
                    continue
                with self.lock:
                    self.received += data

    def new_process(self):
        self.tap_at = None
        self.icon = 0
        self.exit_code = 0

    def record(self, r):
        """A record as the program wrote it, when the player reads it."""
        call, ok = r["call"], r.get("result") == 1 and not r.get("injected")
        # Records are written as calls return: one that began before a tap's handler and is
        # written after it ran that handler inside itself. Only a modal wait may.
        if call == "GetCursorPos":
            self.tap_at = r["t"]
            self.taps += 1
        elif self.tap_at is not None and r["t"] < self.tap_at and call not in MODAL:
            self.nested.append(call)
            self.tap_at = None
        if call == "SetCommState" and ok:
            self.lines = {"DTR": r.get("fDtrControl") == 1, "RTS": r.get("fRtsControl") == 1}
            speed = SPEEDS.get(termios.tcgetattr(self.slave)[5])
            if speed != r.get("BaudRate"):
                self.problems.append("COM1 runs at %s baud, SetCommState asked for %s" % (speed, r.get("BaudRate")))
        elif call == "WriteFile" and r.get("device") == "COM1:" and ok:
            with self.lock:
                self.written += bytes.fromhex(r.get("lpBuffer") or "")
        elif call == "DeviceIoControl" and r.get("device") == "BKL1:" and ok:
            self.backlight.append(r["in"][1])
        elif call == "KernelIoControl" and ok:
            self.hal.append((r["dwIoControlCode"], r["lpInBuf"]))
        elif call == "GpioWrite":
            self.gpio.append("%02X=%08X" % (int(r["offset"], 16), int(r["Value"], 16)))
        elif call == "EscapeCommFunction" and ok and r.get("dwFunc") in (3, 4, 5, 6):
            self.lines["RTS" if r["dwFunc"] < 5 else "DTR"] = r["dwFunc"] in (3, 5)
        elif call == "Shell_NotifyIcon" and ok and r.get("op") in ("add", "delete"):
            self.icon = int(r["op"] == "add")
        if (call == "EndDialog" and ok) or (call == "MessageBox" and not r.get("injected")):
            self.dialogs.append(r["nResult"] if call == "EndDialog" else r.get("result"))
        if call == "PostQuitMessage":
            self.exit_code = r.get("nExitCode", 0)
        elif call == "MessageBox":
            self.box_record(r)
        elif call == "TrackPopupMenu" and not r.get("injected"):
            self.menu_record(r)

    def seen_box(self, seen):
        """The hand's "CAPTION<TAB>TEXT<TAB>ICON" of the message box it answered; its record may
        have come first."""
        with self.lock:
            if seen in self.asked:
                self.asked.remove(seen)
            else:
                self.boxes.append(seen)

    def seen_menu(self, rect):
        """The open menu's LEFT, TOP, RIGHT, BOTTOM on the desktop."""
        self.menus.append(rect)

    def box_record(self, r):
        asked = "%s\t%s\t%d" % (r.get("caption") or "Error", r.get("text"), 1 if r.get("type", 0) & 0xF0 else 0)
        with self.lock:
            if asked in self.boxes:
                self.boxes.remove(asked)
            else:
                self.asked.append(asked)

    def menu_record(self, r):
        if not self.menus:
            return
        left, top, right, bottom = self.menus.pop(0)
        flags = int(str(r.get("uFlags", "0")), 16)
        corner = (right if flags & TPM_RIGHTALIGN else left, bottom if flags & TPM_BOTTOMALIGN else top)
        if corner != (r.get("x"), r.get("y")):
            self.problems.append("the menu's corner is at %d,%d, TrackPopupMenu asked for %s,%s" % (
                corner + (r.get("x"), r.get("y"))))

    def close(self):
        """Stops reading COM1's far end, which the next scenario's player reads."""
        self.stop = True
        self.reader.join()

    def finish(self, seen):
        """What the hand and the modem log saw at the end: "backlight" (REQUESTS, LEVEL), "hal"
        (CALLS, CODE, INPUT), "gpio" (the writes' text), "lines" (the log's lines), "exit" (the
        process's exit code, when it ended), "tray" and "visible" (when it runs). The problems found."""
        self.close()
        if bytes(self.received) != bytes(self.written):
            self.problems.append("COM1's receiver got %r, WriteFile records say %r" % (
                bytes(self.received), bytes(self.written)))
        if self.nested:
            self.problems.append("%d of %d taps served inside %s" % (
                len(self.nested), self.taps, ", ".join(sorted(set(self.nested)))))
        for seen_box in self.boxes:
            self.problems.append("the desktop showed the box %r, no MessageBox asked for it" % seen_box)
        last_hal = self.hal[-1] if self.hal else (0, 0)
        expected = {"backlight": (len(self.backlight), self.backlight[-1] if self.backlight else 0),
                    "hal": (len(self.hal),) + last_hal, "gpio": " ".join(self.gpio),
                    "lines": self.lines, "exit": self.exit_code, "tray": self.icon, "visible": 0,
                    "dialogs": self.dialogs}
        lines = {"DTR": False, "RTS": False}
        for line in seen.pop("lines", []):
            what, *names = line.split()
            for name in lines:
                if what == "set" or name in names:
                    lines[name] = name in names and what != "lower"
        seen["lines"] = lines
        for what, value in seen.items():
            if value != expected[what]:
                self.problems.append("%s: %s seen, the records say %s" % (what, value, expected[what]))
        return self.problems
