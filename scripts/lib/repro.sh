# How scripts/check-reproducible compares two builds' dist/. Sourced, not run.
#
#   repro_compare A B REPORTS   every file under folder A and B compared bit
#                               for bit by cmp, the verdict; each that
#                               differs is explained by diffoscope, its whole
#                               report in REPORTS, its first $REPRO_EXCERPT
#                               lines printed and as many of its headings
#                               (the members that differ). A file
#                               in one folder only is named. Returns 1 when
#                               any differs, with their number in
#                               REPRO_DIFFER.
#   repro_self_test DIR         the same on crafted pairs in DIR: a member
#                               of a .deb changed in place, a byte after a
#                               .deb's last member, a member in only one of
#                               two zips and a file in only one folder must
#                               each be caught and named, equal files not;
#                               returns 1 when one is not (make test, and
#                               check-reproducible before it builds)

REPRO_EXCERPT=${REPRO_EXCERPT:-20}

repro_compare() {
  local a=$1 b=$2 reports=$3 f report lines parts
  REPRO_DIFFER=0
  mkdir -p "$reports"
  while IFS= read -r f; do
    if [ ! -f "$a/$f" ] || [ ! -f "$b/$f" ]; then
      echo "repro: $f: only in $([ -f "$a/$f" ] && echo "$a" || echo "$b")" >&2
    elif ! cmp -s -- "$a/$f" "$b/$f"; then
      report=$reports/${f//\//_}.txt
      # diffoscope only explains: its exit status (1, or 2 for a file it
      # could not read) does not overrule cmp.
      diffoscope --no-progress --text "$report" -- "$a/$f" "$b/$f" >/dev/null 2>"$report.err" || true
      lines=$(grep -c '' "$report" 2>/dev/null) || lines=0
      echo "repro: $f differs (cmp: $(cmp -- "$a/$f" "$b/$f" 2>&1 | sed 's/^.* differ: //;s/^cmp: //;q'));" \
        "diffoscope's report, $lines lines, is $report; it begins:" >&2
      head -n "$REPRO_EXCERPT" "$report" 2>/dev/null | sed 's/^/  /' >&2
      [ "$lines" -gt 0 ] || sed 's/^/  diffoscope: /' "$report.err" >&2
      # A report runs to thousands of lines; its headings name every member
      # that differs, and each view of one (readelf, strings, objdump: "{}"
      # stands for the file), which the report itself shows.
      parts=$(grep '├── ' "$report" 2>/dev/null | grep -vc ' {}$') || parts=0
      if [ "$parts" -gt 0 ] && [ "$lines" -gt "$REPRO_EXCERPT" ]; then
        echo "repro: $f: where it differs ($parts$([ "$parts" -gt "$REPRO_EXCERPT" ] && echo ", the first $REPRO_EXCERPT")):" >&2
        grep '├── ' "$report" | grep -v ' {}$' | head -n "$REPRO_EXCERPT" | sed 's/^/  /' >&2
      fi
    else
      continue
    fi
    REPRO_DIFFER=$((REPRO_DIFFER + 1))
  done < <({ (cd "$a" && find . -type f -printf '%P\n'); (cd "$b" && find . -type f -printf '%P\n'); } | LC_ALL=C sort -u)
  [ "$REPRO_DIFFER" -eq 0 ]
}

repro_self_test() {
  local dir=$1 side said bad=() want
  rm -rf "$dir"
  for side in a b; do
    mkdir -p "$dir/$side" "$dir/pkg-$side/DEBIAN" "$dir/pkg-$side/usr/bin"
    printf 'Package: probe\nVersion: 1\nArchitecture: all\nMaintainer: P <p@example.org>\nDescription: probe\n' \
      >"$dir/pkg-$side/DEBIAN/control"
    printf 'the same\n' >"$dir/$side/same.txt"
    # The same length either side, uncompressed: the two .debs are the same
    # length too, and only their bytes tell them apart.
    printf 'build %s\n' "$side" >"$dir/pkg-$side/usr/bin/probe"
    find "$dir/pkg-$side" -exec touch -h -d @0 {} +
    SOURCE_DATE_EPOCH=0 dpkg-deb --root-owner-group -Znone -b "$dir/pkg-$side" "$dir/$side/probe_1_all.deb" >/dev/null || return 1
    # A member only b's zip holds.
    python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name in sys.argv[2:]:
        z.writestr(zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0)), name)' \
      "$dir/$side/probe.zip" r/README.txt $([ "$side" = b ] && echo r/only-in-b.exe) || return 1
  done
  cp "$dir/a/probe_1_all.deb" "$dir/a/tail.deb"
  { cat "$dir/a/probe_1_all.deb"; printf '\n'; } >"$dir/b/tail.deb"
  printf 'x\n' >"$dir/a/only-in-a.txt"

  repro_compare "$dir/a" "$dir/a" "$dir/same-reports" 2>"$dir/same.log" ||
    bad+=("a folder compared with itself differs: $(cat "$dir/same.log")")
  repro_compare "$dir/a" "$dir/b" "$dir/reports" 2>"$dir/differ.log" && bad+=("two folders that differ pass")
  said=$(cat "$dir/differ.log")
  for want in "probe_1_all.deb differs" "./usr/bin/probe" "tail.deb differs" "probe.zip differs" "r/only-in-b.exe" \
    "only-in-a.txt: only in $dir/a"; do
    [[ $said == *"$want"* ]] || bad+=("no '$want' in what it said")
  done
  [[ $said != *same.txt* ]] || bad+=("same.txt, the same in both, named")
  [ "$REPRO_DIFFER" = 4 ] || bad+=("$REPRO_DIFFER files counted as differing, not 4")
  if [ ${#bad[@]} -ne 0 ]; then
    printf 'repro: the comparison is wrong: %s\n' "${bad[@]}" >&2
    printf '%s\n' "$said" | sed 's/^/  | /' >&2
    return 1
  fi
}
