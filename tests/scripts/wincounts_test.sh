#!/usr/bin/env bash
# The verdict of scripts/test-windows on the two architectures' counts of
# tests passed, on crafted logs: i686 must not pass fewer than x86_64.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/wincounts.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# log OUT ARCH LANG NAME PASSED: the end of one test executable's output,
# as Wine leaves it (CR LF).
log() {
  local word=tests
  [ "$5" = 1 ] && word=test
  mkdir -p "$1/$2/logs"
  printf '[==========] %s %s from 1 test suite ran. (5 ms total)\r\n[  PASSED  ] %s %s.\r\n' \
    "$5" $word "$5" $word >"$1/$2/logs/$4.$3.log"
}

# expect pass|fail ROUTE32 WHAT: runs the verdict on $work/run.
expect() {
  local want=$1 route=$2 what=$3 got=pass output
  output=$(passed_verdict "$work/run" "$route") || got=fail
  if [ "$got" != "$want" ]; then
    echo "FAILED: $what: the verdict is $got, not $want; it said:"
    echo "$output"
    failures=$((failures + 1))
  else
    echo "ok: $what ($got)"
  fi
}

# A run: two executables under both code pages.
for lang in C.UTF-8 ru_RU.UTF-8; do
  for arch in x86_64 i686; do
    log "$work/run" $arch "$lang" test_a 12
    log "$work/run" $arch "$lang" test_b 1
  done
done
expect pass qemu "equal counts"
log "$work/run" i686 C.UTF-8 test_a 14
expect pass qemu "i686 passed more under one code page"
# More in all, but fewer under the other.
log "$work/run" i686 ru_RU.UTF-8 test_a 11
expect fail qemu "i686 passed fewer under the other"
log "$work/run" i686 ru_RU.UTF-8 test_a 12
rm "$work/run/i686/logs/test_b.ru_RU.UTF-8.log"
expect fail native "an i686 test executable left no log"
rm -r "$work/run/i686"
expect fail qemu "no i686 logs at all"
expect pass skipped "the i686 run skipped: no i686 logs"

[ "$failures" -eq 0 ] || { echo "$failures of the verdicts were wrong"; exit 1; }
