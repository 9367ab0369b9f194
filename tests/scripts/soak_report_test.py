#!/usr/bin/env python3
"""The soak report's verdict (scripts/lib/soak_report.py) on crafted runs:
both panes going round often enough, memory flat over their cycles, pauses
within their limit, and a log that holds every byte the simulator sent, in
order, or not."""
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


def samples(memory=lambda t: 50000, text8_every=10, text2_every=2, gap=lambda t: 20.0):
    """A run sampled every 2 s: resident memory memory(t) KB, Text2 trimmed
    every text2_every s and Text8 every text8_every s (0: never), the pause
    gap(t) ms."""
    lines = ["pane-cap 2048\n"]
    for t in range(0, SECONDS + 1, 2):
        trims2 = t // text2_every if text2_every else 0
        trims8 = t // text8_every if text8_every else 0
        lines.append(f"sample {t}.0 {memory(t)} 2000 {t * 4096} {gap(t)} {t * 100} {t} {trims2} 1900 {trims8}\n")
    return "".join(lines)


class Verdict(unittest.TestCase):
    def verdict(self, blocks=PACKETS, run=None):
        with tempfile.TemporaryDirectory() as d:
            d = pathlib.Path(d)
            (d / "samples.txt").write_text(run or samples())
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

    def test_memory_over_the_cycles_and_the_trims(self):
        for what, run, passes, says in (
                ("flat once both panes go round", samples(), True, r"9 cycles from t=10 s; .*\+0\.0 % .*  ok"),
                ("growth while the panes first fill is not held against it",
                 samples(memory=lambda t: 30000 + 2000 * t if t < 10 else 50000), True, r"\+0\.0 % .*  ok"),
                ("memory growing across the cycles", samples(memory=lambda t: 50000 + 40 * t), False,
                 r"9 cycles .*\+6\.3 % \(limit \+3 %\)  FAIL"),
                ("memory given back after the first cycle",
                 samples(memory=lambda t: 60000 if 10 <= t < 20 else 50000), True, r"-16\.7 % .*  ok"),
                ("a single whole cycle", samples(text8_every=40), False,
                 r"1 whole cycle\(s\) of Text8: memory over the cycles cannot be compared"),
                ("Text8 trimmed too seldom", samples(text8_every=40), False,
                 r"Text8 2 \(1\.2 a minute.*at least 4 each.*  FAIL"),
                ("Text2 never at its cap", samples(text2_every=0), False, r"Text2 0 \(0\.0 a minute.*  FAIL"),
                ("a long pause at the cap", samples(gap=lambda t: 420.0 if t == 50 else 20.0), False,
                 r"420 ms \(limit 300\)  FAIL")):
            with self.subTest(what):
                passed, out = self.verdict(run=run)
                self.assertEqual(passed, passes, out)
                self.assertRegex(out, says)


if __name__ == "__main__":
    unittest.main()
