#!/usr/bin/env python3
"""The GPS receiver's end of COM1 for the Wine tests: a pseudo-terminal whose other end Wine opens.

Writes the slave's path to DIR/pty. While DIR/feed exists, sends its first line (an NMEA sentence
without '$' and checksum) every 0.2 s as a full sentence. Whenever the feed starts, stops or
changes, what the program has not read yet is flushed. Everything the program writes to the port is appended to DIR/received.
Runs until DIR/stop exists.
"""
import os
import select
import sys
import termios
import time
import tty


def sentence(body):
    checksum = 0
    for ch in body.encode("ascii"):
        checksum ^= ch
    return ("$%s*%02X\r\n" % (body, checksum)).encode("ascii")


def main(folder):
    master, slave = os.openpty()
    tty.setraw(slave)  # no echo: the log must hold only what the program wrote
    os.set_blocking(master, False)
    with open(os.path.join(folder, "pty.tmp"), "w") as f:
        f.write(os.ttyname(slave))
    os.rename(os.path.join(folder, "pty.tmp"), os.path.join(folder, "pty"))

    feed_path = os.path.join(folder, "feed")
    received = open(os.path.join(folder, "received"), "ab", buffering=0)
    feeding = None
    next_send = 0.0
    while not os.path.exists(os.path.join(folder, "stop")):
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                received.write(os.read(master, 4096))
            except (BlockingIOError, OSError):
                pass
        try:
            with open(feed_path) as f:
                body = f.readline().strip()
        except FileNotFoundError:
            body = None
        if body != feeding:
            termios.tcflush(slave, termios.TCIFLUSH)
            next_send = 0.0
        feeding = body
        if feeding and time.monotonic() >= next_send:
            next_send = time.monotonic() + 0.2
            try:
                os.write(master, sentence(feeding))
            except (BlockingIOError, OSError):
                pass


if __name__ == "__main__":
    main(sys.argv[1])
