#!/usr/bin/env python3
"""The figures and the verdict of one soak run (scripts/soak):
   soak_report.py NAME SAMPLES LOG SENT SECONDS PLOT_DATA
SAMPLES holds the driver's "sample" lines (bench/soak.h), LOG the window's
log file, SENT every byte the simulator sent, in order. Prints the figures;
exit status 0 when every criterion holds, 1 otherwise."""
import sys

PANE_GROWTH_LIMIT = 0.10   # resident memory at the end vs when the pane first reached its cap
PAUSE_LIMIT_MS = 300.0     # longest pause between ticks once the pane is at its cap
LEVEL_SECONDS = 60.0       # a memory level: the highest sample over this long
HEADING = "Принят пакет:".encode("cp1251")


def received_bytes(log):
    """Every received byte, in order, from the hex line of each raw block."""
    lines = log.split(b"\r\n")
    out = bytearray()
    blocks = 0
    for i in range(len(lines) - 2):
        if lines[i] == HEADING:
            out += bytes.fromhex(lines[i + 2].decode("ascii"))
            blocks += 1
    return bytes(out), blocks


def main():
    name, samples_path, log_path, sent_path, seconds, plot_path = sys.argv[1:7]
    seconds = float(seconds)
    samples = []
    with open(samples_path) as f:
        for line in f:
            p = line.split()
            if p and p[0] == "sample":
                samples.append((float(p[1]), int(p[2]), int(p[3]), int(p[4]), float(p[5]), int(p[6]), int(p[7]),
                                int(p[8]), int(p[9]) if len(p) > 9 else 0, int(p[10]) if len(p) > 10 else 0))
    if not samples:
        print(f"  {name}: no samples: the driver did not run")
        return 1

    # A pane first reached its cap in the sample period of its first trim.
    cap_at = next((i for i in range(len(samples)) if samples[i][7] > 0), None)
    # Memory is judged from when both panes the run fills are full: until the
    # read pane is, each click's lines still add to what the window holds (a
    # lot under Wine, whose rich edit keeps some 245 bytes a character). A
    # read pane that never fills in the run is left out, and said so.
    read_at = next((i for i in range(len(samples)) if samples[i][9] > 0), None)
    full_at = None if cap_at is None else max(cap_at, read_at if read_at is not None else cap_at)
    end = samples[-1]
    ok = True
    mb = lambda kb: kb / 1024.0
    print(f"  run: {end[0]:.0f} s, {end[5]} ticks while streaming, {end[6]} request clicks; "
          f"Text2 at most {max(s[2] for s in samples)} units, trimmed {end[7]} times; "
          f"Text8 at most {max(s[8] for s in samples)} units, trimmed {end[9]} times")
    print(f"  resident memory: start {mb(samples[0][1]):.1f} MB, highest {mb(max(s[1] for s in samples)):.1f} MB, "
          f"end {mb(end[1]):.1f} MB")
    if cap_at is None:
        print("  Text2 never reached its cap: the memory and pause checks cannot be made (run longer)  FAIL")
        ok = False
    else:
        at = samples[full_at]
        # Memory at the cap swings (Qt compacts its text buffer only when it
        # is full), so a level is the highest sample of a minute: the first
        # minute at the cap against the last minute of the stream.
        # (A third of the time at the cap, in a short run.)
        streaming = [x for x in samples if x[0] <= seconds + 1] or samples
        window = min(LEVEL_SECONDS, (streaming[-1][0] - at[0]) / 3)
        if window <= 0:
            print("  the panes filled only as the stream ended: the memory check cannot be made (run longer)  FAIL")
            return 1
        first = [x[1] for x in samples[full_at:] if x[0] <= at[0] + window]
        last = [x[1] for x in streaming if x[0] >= streaming[-1][0] - window]
        level_at, level_end = max(first), max(last)
        growth = (level_end - level_at) / level_at
        held = growth <= PANE_GROWTH_LIMIT
        ok &= held
        print(f"  Text2 first at its cap at t={samples[cap_at][0]:.0f} s ({mb(samples[cap_at][1]):.1f} MB), "
              + (f"Text8 at t={samples[read_at][0]:.0f} s" if read_at is not None else "Text8 not in this run") + "; "
              f"memory level (highest of {window:.0f} s) "
              f"then {mb(level_at):.1f} MB, at the end {mb(level_end):.1f} MB: {growth * 100:+.1f} % "
              f"(limit +{PANE_GROWTH_LIMIT * 100:.0f} %)  {'ok' if held else 'FAIL'}")
        lows = [x[1] for x in samples[full_at:]]
        print(f"  at the cap memory stayed within {mb(min(lows)):.1f} .. {mb(max(lows)):.1f} MB; "
              f"last sample {mb(end[1]):.1f} MB")
        # Each sample's gap covers the time since the one before it.
        after = [s[4] for s in samples[cap_at:] if s[0] <= seconds + 1]
        longest = max(after) if after else 0.0
        paused = longest <= PAUSE_LIMIT_MS
        ok &= paused
        print(f"  longest pause between ticks at the cap: {longest:.0f} ms (limit {PAUSE_LIMIT_MS:.0f})  "
              f"{'ok' if paused else 'FAIL'}")

    with open(log_path, "rb") as f:
        log = f.read()
    with open(sent_path, "rb") as f:
        sent = f.read()
    got, blocks = received_bytes(log)
    same = min(len(got), len(sent))
    step = 1 << 16
    first = next((i for i in range(0, same, step) if got[i:min(i + step, same)] != sent[i:min(i + step, same)]), None)
    if first is not None:
        first += next(k for k in range(step) if got[first + k] != sent[first + k])
    elif len(got) != len(sent):
        first = same
    intact = first is None and len(got) == len(sent)
    ok &= intact
    print(f"  log: {len(log)} bytes, {blocks} raw blocks holding {len(got)} bytes; the simulator sent {len(sent)}")
    if first is not None:
        print(f"  first difference at byte {first}: sent {sent[first:first + 8].hex(' ')}, "
              f"log {got[first:first + 8].hex(' ')}")
    print(f"  bytes lost or out of order: {0 if intact else max(len(sent) - (first if first is not None else same), 1)}"
          f"{'' if len(got) <= len(sent) else f', {len(got) - len(sent)} extra'}  {'ok' if intact else 'FAIL'}")

    with open(plot_path, "w") as f:
        for s in samples:
            f.write(f"{s[0]:.1f} {s[1] / 1024.0:.2f} {s[2] / 1048576.0:.3f}\n")
    print(f"  {name}: {'PASS' if ok else 'FAIL'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
