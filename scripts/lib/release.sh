# What make deb and make dist share: the release's date and its checksums.
# Sourced, not run, from the clone's root.
#
#   release_epoch        exports SOURCE_DATE_EPOCH: as given, else the time
#                        of this clone's last commit, else (a tree from git
#                        archive, which stamps every file with it) the time
#                        of CMakeLists.txt. Compilers, linkers, strip, CPack
#                        and the zip's member times all take it, so that a
#                        build depends on the commit and not on the clock.
#   release_sums         (re)writes dist/SHA256SUMS over every file in
#                        dist/ (the package, the zips, the files unpacked
#                        beside them), one line a file, by name, in the
#                        format `sha256sum -c` reads from dist/. Each
#                        command writes it whole, so it never holds a stale
#                        line and either command may run first.

release_epoch() {
  if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    # Only this tree's own history: a tarball unpacked inside another
    # repository must not take that repository's date.
    if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
      SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    else
      SOURCE_DATE_EPOCH=$(stat -c %Y CMakeLists.txt)
    fi
  fi
  export SOURCE_DATE_EPOCH
}

release_sums() {
  local tmp
  tmp=$(mktemp -p dist .SHA256SUMS.XXXXXX)
  (cd dist && find . -type f ! -name SHA256SUMS ! -name '.*' -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum --) >"$tmp"
  chmod 644 "$tmp"
  mv "$tmp" dist/SHA256SUMS
}
