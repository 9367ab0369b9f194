#!/usr/bin/env python3
"""The far end of the Wine COM port: a pseudo-terminal whose slave side the
Wine prefix links as a COM port. Answers each packet (a burst followed by
100 ms of quiet) the way the Windows serial tests expect:

  01 03 00 00 00 01 84 0A  -> the read reply 01 03 02 12 34 B5 33
  b"ECHO" + data           -> data, in one write
  b"SPLIT" + n             -> 01 03 02, a pause of n ms, then 12 34 B5 33
  anything else            -> nothing

Usage: pty_peer.py <file to write the slave's path to>
Runs until killed or until its stdin closes.
"""
import os
import select
import sys
import time
import tty

READ_REQUEST = bytes.fromhex("010300000001840A")
READ_REPLY = bytes.fromhex("0103021234B533")
QUIET = 0.100


def answer(master, packet):
    if packet == READ_REQUEST:
        os.write(master, READ_REPLY)
    elif packet.startswith(b"ECHO"):
        os.write(master, packet[4:])
    elif packet.startswith(b"SPLIT") and len(packet) == 6:
        os.write(master, READ_REPLY[:3])
        time.sleep(packet[5] / 1000.0)
        os.write(master, READ_REPLY[3:])


def main():
    master, slave = os.openpty()
    # Raw, so the slave side neither echoes nor rewrites line ends.
    tty.setraw(slave)
    path = os.ttyname(slave)
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "w") as f:
        f.write(path + "\n")
    os.rename(tmp, sys.argv[1])

    packet = b""
    while True:
        ready, _, _ = select.select([master, sys.stdin], [], [], QUIET if packet else None)
        if sys.stdin in ready and not os.read(sys.stdin.fileno(), 64):
            return
        if master in ready:
            try:
                packet += os.read(master, 4096)
            except OSError:
                time.sleep(QUIET)  # nobody holds the slave side: wait for the next opener
            continue
        if packet:
            answer(master, packet)
            packet = b""


if __name__ == "__main__":
    main()
