# The tests' own counts of what passed in a run of scripts/test-windows, and
# the verdict on them. Sourced by scripts/test-windows; its verdict is tried
# on crafted logs by tests/scripts/wincounts_test.sh.

# Tests passed in one architecture's run under one LANG, summed from the
# tests' own summaries in OUT/ARCH/logs/*.LANG.log (0 with no logs).
passed_in() {
  local out=$1 arch=$2 lang=$3 f logs=()
  for f in "$out/$arch/logs/"*".$lang.log"; do
    [ -f "$f" ] && logs+=("$f")
  done
  [ ${#logs[@]} -eq 0 ] && { echo 0; return 0; }
  cat "${logs[@]}" | tr -d '\r' \
    | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' | awk '{ s += $1 } END { print s + 0 }'
}

# Prints the counts under each LANG. Fails, saying under which, where the
# i686 run (not taken when ROUTE32 is "skipped") passed fewer tests than the
# x86_64 run: the only sign of i686 tests that silently did not run.
passed_verdict() {
  local out=$1 route32=$2 lang arch line rc=0 archs=(x86_64)
  [ "$route32" != skipped ] && archs+=(i686)
  for lang in C.UTF-8 ru_RU.UTF-8; do
    line="test-windows: tests passed under $lang:"
    for arch in "${archs[@]}"; do
      line+=" $arch $(passed_in "$out" "$arch" "$lang"),"
    done
    echo "${line%,}"
    if [ "$route32" != skipped ] && [ "$(passed_in "$out" i686 "$lang")" -lt "$(passed_in "$out" x86_64 "$lang")" ]; then
      echo "test-windows: i686/$lang: fewer tests passed than in the x86_64 run"
      rc=1
    fi
  done
  return $rc
}
