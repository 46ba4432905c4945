#!/usr/bin/env python3
"""Hosts ptys for Windows programs under Wine to open as devices.

One pty per mode given: "echo" sends back every byte it receives, "silent" never reads
nor answers. Prints each pty's path on a line of its own, in the order given, then serves
until SIGTERM or until --lifetime seconds passed (so a lost host never lingers).

The host is the session leader and each pty's controlling terminal is held here, with the
slave kept open: otherwise the wineserver adopts the pty, and a 0x03 byte or a hang-up
would end the Wine session.
"""
import argparse
import fcntl
import os
import select
import signal
import sys
import termios
import time
import tty


def open_pty(controlling):
    master, slave = os.openpty()
    tty.setraw(slave)
    if controlling:
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    os.set_blocking(master, False)
    return master, slave


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("modes", nargs="+", choices=["echo", "silent"])
    parser.add_argument("--lifetime", type=float, default=900.0)
    args = parser.parse_args()

    try:
        os.setsid()
    except OSError:
        pass  # already a session leader
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.signal(signal.SIGHUP, signal.SIG_IGN)

    ptys = []  # (master, slave, mode, bytes waiting to go back)
    for i, mode in enumerate(args.modes):
        master, slave = open_pty(controlling=(i == 0))
        ptys.append([master, slave, mode, bytearray()])
        print(os.ttyname(slave), flush=True)

    end = time.monotonic() + args.lifetime
    while time.monotonic() < end:
        readers = [p[0] for p in ptys if p[2] == "echo" and len(p[3]) < (1 << 20)]
        writers = [p[0] for p in ptys if p[3]]
        readable, writable, _ = select.select(readers, writers, [], 0.5)
        for p in ptys:
            master, pending = p[0], p[3]
            if master in readable:
                try:
                    pending += os.read(master, 65536)
                except (BlockingIOError, InterruptedError):
                    pass
            if master in writable and pending:
                try:
                    del pending[: os.write(master, pending)]
                except (BlockingIOError, InterruptedError):
                    pass


if __name__ == "__main__":
    main()
