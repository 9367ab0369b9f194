#!/usr/bin/env python3
"""The host's end of the driver guest (scripts/test-drivers).

It holds the host side of each device's pty open, so the emulated adapter
stays plugged in while simulators come and go, runs rilvano-sim on a device
as the guest asks, and passes monitor commands on. The guest speaks one line
at a time on its ttyS2, which QEMU joins to the control socket:

  sim DEVICE OPTIONS...   (re)start rilvano-sim --device <the pty> OPTIONS
  signal DEVICE STOP|CONT stop or resume that simulator
  hmp COMMAND...          a monitor command, e.g. device_del usb0

and gets "ok" or "error: why" back.

usage: guest_host.py QMP_SOCKET CONTROL_SOCKET SIM_PROGRAM LOG_DIR
"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import termios
import time
import tty


class Monitor:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.file = self.sock.makefile("rw")
        self.file.readline()  # the greeting
        self.call("qmp_capabilities")

    def call(self, command, **arguments):
        self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            answer = json.loads(self.file.readline())
            if "error" in answer:
                raise RuntimeError(answer["error"].get("desc", "failed"))
            if "return" in answer:
                return answer["return"]
            # events (DEVICE_DELETED and the like) are passed over

    def human(self, line):
        text = self.call("human-monitor-command", **{"command-line": line})
        if text.strip():
            raise RuntimeError(" ".join(text.split()))
        return text


def connect(path, seconds=30):
    deadline = time.monotonic() + seconds
    while True:
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            return s
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)


def main(argv):
    qmp_path, control_path, sim_program, log_dir = argv[1:5]
    monitor = Monitor(qmp_path)
    # "usb0pty: filename=pty:/dev/pts/3" -> the device "usb0"
    ptys = {}
    for label, path in re.findall(r"^(\w+)pty: filename=pty:(\S+)", monitor.call("human-monitor-command", **{"command-line": "info chardev"}), re.M):
        ptys[label] = path
    holders = {}
    for label, path in ptys.items():
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)  # a pty echoes by default, and nobody here answers
        holders[label] = fd
    sims = {}
    logs = open(os.path.join(log_dir, "simulators.log"), "ab")

    def stop(label):
        p = sims.pop(label, None)
        if p:
            p.send_signal(signal.SIGCONT)
            p.terminate()
            p.wait(10)

    def handle(words):
        if words[0] == "sim" and words[1] in ptys:
            stop(words[1])
            termios.tcflush(holders[words[1]], termios.TCIOFLUSH)
            p = subprocess.Popen([sim_program, "--device", ptys[words[1]]] + words[2:],
                                 stdout=subprocess.PIPE, stderr=logs)
            first = p.stdout.readline().decode(errors="replace")
            if not first.startswith("device:"):
                raise RuntimeError("the simulator did not start: " + first.strip())
            sims[words[1]] = p
        elif words[0] == "signal" and words[1] in sims:
            sims[words[1]].send_signal(getattr(signal, "SIG" + words[2]))
        elif words[0] == "hmp":
            if words[1] == "device_add":
                # An adapter comes with empty buffers: what the simulator
                # said to the one pulled out is not for this one.
                for fd in holders.values():
                    termios.tcflush(fd, termios.TCIOFLUSH)
            monitor.human(" ".join(words[1:]))
        else:
            raise RuntimeError("unknown: " + " ".join(words))

    control = connect(control_path).makefile("rwb", buffering=0)
    try:
        for raw in control:
            line = raw.decode(errors="replace").strip()
            if not line:
                continue
            try:
                handle(line.split())
                answer = "ok"
            except Exception as e:  # told to the guest, which fails its test
                answer = "error: " + str(e)
            logs.write(f"{line} -> {answer}\n".encode())
            logs.flush()
            control.write((answer + "\n").encode())
    finally:
        for label in list(sims):
            stop(label)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
