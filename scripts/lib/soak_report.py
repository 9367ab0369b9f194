#!/usr/bin/env python3
"""The figures and the verdict of one soak run (scripts/soak):
   soak_report.py NAME SAMPLES LOG SENT SECONDS PLOT_DATA
SAMPLES holds the driver's "sample" lines (bench/soak.h), LOG the window's
log file, SENT every byte the simulator sent, in order. Prints the figures;
exit status 0 when every criterion holds, 1 otherwise."""
import math
import sys

TRIMS_PER_MINUTE = 2.0     # each pane at least this often: both go round many times in a run
CYCLE_GROWTH_LIMIT = 0.03  # a later cycle's memory level over the first cycle's
PAUSE_LIMIT_MS = 300.0     # longest pause between ticks once Text2 is at its cap
HEADING = "Принят пакет:".encode("cp1251")
MB = 1024.0


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


def cycle_levels(streaming, column):
    """The memory level of each whole cycle of a pane: the highest sample from
    one of its trims up to the next. The cycle before its first trim (the pane
    still filling) and the one the run cut short are left out."""
    last = streaming[-1][column]
    levels = []
    for k in range(1, last):
        held = [s for s in streaming if s[column] == k]
        if held:
            levels.append((held[0][0], max(s[1] for s in held)))
    return levels


def memory_rows(levels, per_row=12):
    values = [f"{kb / MB:.1f}" for _, kb in levels]
    return ["    " + " ".join(values[i:i + per_row]) for i in range(0, len(values), per_row)]


def main():
    name, samples_path, log_path, sent_path, seconds, plot_path = sys.argv[1:7]
    seconds = float(seconds)
    samples = []
    cap = None
    with open(samples_path) as f:
        for line in f:
            p = line.split()
            if p and p[0] == "pane-cap":
                cap = int(p[1])
            elif p and p[0] == "sample":
                samples.append((float(p[1]), int(p[2]), int(p[3]), int(p[4]), float(p[5]), int(p[6]), int(p[7]),
                                int(p[8]), int(p[9]), int(p[10])))
    if not samples:
        print(f"  {name}: no samples: the driver did not run")
        return 1

    end = samples[-1]
    streaming = [x for x in samples if x[0] <= seconds + 1] or samples
    ok = True
    print(f"  run: {end[0]:.0f} s, panes capped at {cap if cap is not None else '?'} units, "
          f"{end[5]} ticks while streaming, {end[6]} request clicks")
    print(f"  resident memory: start {samples[0][1] / MB:.1f} MB, highest {max(s[1] for s in samples) / MB:.1f} MB, "
          f"end {end[1] / MB:.1f} MB")

    # Both panes must go round, or the run says nothing of their steady state.
    minutes = seconds / 60.0
    need = max(2, math.ceil(TRIMS_PER_MINUTE * minutes))
    trims = {"Text2": streaming[-1][7], "Text8": streaming[-1][9]}
    enough = all(n >= need for n in trims.values())
    ok &= enough
    print("  trims while streaming: " + ", ".join(
        f"{pane} {n} ({n / minutes:.1f} a minute, at most {max(s[2 if pane == 'Text2' else 8] for s in samples)} units)"
        for pane, n in trims.items())
        + f"; at least {need} each ({TRIMS_PER_MINUTE:.0f} a minute)  {'ok' if enough else 'FAIL'}")

    # A cycle is the slower pane's: from one of its trims to the next, the
    # faster one has gone round at least as often.
    slow = "Text8" if trims["Text8"] <= trims["Text2"] else "Text2"
    levels = cycle_levels(streaming, 9 if slow == "Text8" else 7)
    if len(levels) < 2:
        print(f"  {len(levels)} whole cycle(s) of {slow}: memory over the cycles cannot be compared (run longer, "
              f"or a smaller PANE_CAP)  FAIL")
        ok = False
    else:
        first_at, first = levels[0]
        highest = max(kb for _, kb in levels[1:])
        growth = (highest - first) / first
        flat = growth <= CYCLE_GROWTH_LIMIT
        ok &= flat
        print(f"  memory level of each whole cycle of {slow} (from one of its trims to the next; "
              f"the highest sample), MB:")
        print("\n".join(memory_rows(levels)))
        print(f"  {len(levels)} cycles from t={first_at:.0f} s; the first {first / MB:.1f} MB, "
              f"the highest after it {highest / MB:.1f} MB: {growth * 100:+.1f} % "
              f"(limit +{CYCLE_GROWTH_LIMIT * 100:.0f} %)  {'ok' if flat else 'FAIL'}")

    # Each sample's gap covers the time since the one before it.
    cap_at = next((i for i in range(len(samples)) if samples[i][7] > 0), None)
    if cap_at is not None:
        after = [s[4] for s in samples[cap_at:] if s[0] <= seconds + 1]
        longest = max(after) if after else 0.0
        paused = longest <= PAUSE_LIMIT_MS
        ok &= paused
        print(f"  longest pause between ticks once Text2 was at its cap (t={samples[cap_at][0]:.0f} s): "
              f"{longest:.0f} ms (limit {PAUSE_LIMIT_MS:.0f})  {'ok' if paused else 'FAIL'}")

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
            f.write(f"{s[0]:.1f} {s[1] / MB:.2f} {s[2] / 1048576.0:.3f}\n")
    print(f"  {name}: {'PASS' if ok else 'FAIL'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
