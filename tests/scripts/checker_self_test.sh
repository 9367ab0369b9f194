#!/usr/bin/env bash
# One release checker's own test on crafted probes, the code the late stages
# run before they trust it (scripts/lib):
#   checker_self_test.sh pe|elf|repro
# The PE probes need the MinGW cross compilers, which only the Windows
# stages install: without them it exits 77, which ctest reports as skipped.
set -euo pipefail
lib=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case ${1:-} in
  pe)
    for cc in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix; do
      command -v "$cc" >/dev/null || {
        echo "skipped: no $cc (scripts/install-deps g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)"
        exit 77
      }
    done
    source "$lib/pe.sh"
    pe_checks_refuse "$work" ;;
  elf) source "$lib/elf.sh"; elf_check_hardening_refuses "$work" ;;
  repro) source "$lib/repro.sh"; repro_self_test "$work" ;;
  *) echo "checker_self_test.sh: pe, elf or repro, not '${1:-}'" >&2; exit 2 ;;
esac
echo "the $1 checks refuse every crafted probe they must and take the rest"
