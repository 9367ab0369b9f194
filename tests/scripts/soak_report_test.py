#!/usr/bin/env python3
"""The soak report's verdict (scripts/lib/soak_report.py) on crafted runs:
memory and pauses within their limits, and a log that holds every byte the
simulator sent, in order, or not."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

REPORT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "lib" / "soak_report.py"
SECONDS = 100
# Three packets as the simulator sent them, each of its own bytes.
PACKETS = [bytes(range(i * 40, i * 40 + 40)) for i in range(3)]


def raw_block(packet):
    """A received packet in the log: time, heading, its printable bytes, hex."""
    printable = bytes(b for b in packet if b > 31)
    return (b"12:00:00.000\r\n" + "Принят пакет:".encode("cp1251") + b"\r\n" + printable + b"\r\n"
            + " ".join(f"{b:02X}" for b in packet).encode("ascii") + b" \r\n\r\n")


def samples():
    """A run whose memory holds still and whose ticks never pause long:
    Text2 and Text8 at their caps from 10 s on."""
    lines = []
    for t in range(0, SECONDS + 1, 2):
        full = int(t >= 10)
        lines.append(f"sample {t}.0 50000 {2097152 if full else t * 1000} {t * 4096} 20.0 {t * 100} {t} "
                     f"{full * t} {2097152 if full else 1000} {full * t}\n")
    return "".join(lines)


class Verdict(unittest.TestCase):
    def verdict(self, blocks):
        with tempfile.TemporaryDirectory() as d:
            d = pathlib.Path(d)
            (d / "samples.txt").write_text(samples())
            (d / "log.txt").write_bytes(b"01.01.2025 12:00:00\r\nSTART Rilvano V3.0\r\n\r\n"
                                        + b"".join(raw_block(p) for p in blocks))
            (d / "sent.bin").write_bytes(b"".join(PACKETS))
            run = subprocess.run([sys.executable, str(REPORT), "qt", str(d / "samples.txt"), str(d / "log.txt"),
                                  str(d / "sent.bin"), str(SECONDS), str(d / "plot.dat")],
                                 capture_output=True, text=True)
        last = run.stdout.strip().splitlines()[-1] if run.stdout.strip() else ""
        self.assertIn(last, ("  qt: PASS", "  qt: FAIL"), run.stdout + run.stderr)
        self.assertEqual(run.returncode == 0, last.endswith("PASS"), run.stdout)
        return last.endswith("PASS"), run.stdout

    def test_every_byte_in_order_passes(self):
        passed, out = self.verdict(PACKETS)
        self.assertTrue(passed, out)
        self.assertIn("3 raw blocks holding 120 bytes; the simulator sent 120", out)

    def test_a_log_that_lost_order_or_bytes_fails(self):
        changed = bytearray(PACKETS[1])
        changed[7] ^= 0x01
        for what, blocks in (("blocks swapped", [PACKETS[1], PACKETS[0], PACKETS[2]]),
                             ("a byte changed", [PACKETS[0], bytes(changed), PACKETS[2]]),
                             ("a block missing", [PACKETS[0], PACKETS[2]])):
            with self.subTest(what):
                passed, out = self.verdict(blocks)
                self.assertFalse(passed, out)
                self.assertRegex(out, r"bytes lost or out of order: [1-9][0-9]*  FAIL")


if __name__ == "__main__":
    unittest.main()
