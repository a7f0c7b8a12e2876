"""The Win32 player's machine: one Xvfb display, one Wine prefix set up as a handheld's registry
is, and COM1 mapped to a pseudo-terminal whose far end is the receiver (tools/wine/play.py)."""
import glob
import os
import shutil
import socket
import subprocess
import termios
import threading
import time
import tty

BYTE_SECONDS = 10 / 4800  # 8N1 at 4800 baud
SCREEN = (240, 320)
DESKTOP_REG = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="%dx%d"

[HKEY_LOCAL_MACHINE\Software\Handheld\Power]
"ACLine"=dword:00000000

[HKEY_CURRENT_USER\Software\Handheld\Gpio]
"GPLR1"=dword:00000000
""" % SCREEN


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
        self.log_path = os.path.join(work, "wine.log")
        self.log = open(self.log_path, "ab")
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
            # Wine's own fonts, Marlett among them: the desktop draws its caption buttons with it.
            fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
            for font in glob.glob("/usr/share/wine/fonts/*.ttf"):
                shutil.copy2(font, fonts)
            reg = os.path.join(work, "device.reg")
            with open(reg, "w") as f:
                f.write(DESKTOP_REG)
            self.run("reg", "import", windows_path(reg))
            # The keys a handheld has that a desktop profile lacks, from the package.
            self.run("reg", "import", windows_path(os.path.join(self.build, "system_keys.reg")))
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
        # A speed no scenario asks for: a port the program leaves unset shows as such.
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = termios.B38400
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        open(self.env["PELORN_MODEM_LOG"], "w").close()
        self.log_start = os.path.getsize(self.log_path)

    def com1_open(self):
        """Whether a process other than the player holds COM1's pseudo-terminal open."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            if int(pid) == os.getpid():
                continue
            try:
                fds = os.listdir("/proc/%s/fd" % pid)
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == self.pty:
                        return True
                except OSError:
                    pass
        return False

    def map_com1(self, target):
        link = os.path.join(self.prefix, "dosdevices", "com1")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(target, link)

    def close(self):
        self.server("-k")
        self.xvfb.kill()
        self.xvfb.wait()


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
