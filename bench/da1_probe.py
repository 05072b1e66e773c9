#!/usr/bin/env python3
"""Runs inside a terminal: writes a workload file to the terminal, then asks for the primary
device attributes and waits for the answer, so the terminal has parsed everything before it ends."""
import os
import sys
import termios
import tty

fd = sys.stdin.fileno()
saved = termios.tcgetattr(fd)
tty.setraw(fd)
try:
    out = sys.stdout.buffer
    if len(sys.argv) > 1:
        with open(sys.argv[1], "rb") as workload:
            while chunk := workload.read(1 << 16):
                out.write(chunk)
    out.write(b"\x1b[c")
    out.flush()
    reply = b""
    while not reply.endswith(b"c"):
        reply += os.read(fd, 64)
finally:
    termios.tcsetattr(fd, termios.TCSADRAIN, saved)
