# The readme of the Windows zip. Sourced, not run.
#
#   winreadme_pack SRC OUT        docs/windows-readme.txt as the zip holds it
#   winreadme_check FILE [NAME]   prints why FILE (called NAME) is not such a
#                                 readme and returns 1: it must be UTF-8 with
#                                 a BOM, CR LF throughout, the Russian title
#                                 first and the English one after it
#
# Notepad before Windows 10 can take a file without a byte order mark for one
# in the system's ANSI code page, and before version 1809 it runs lines ended
# by a bare LF together. UTF-8 with a BOM and CR LF is read right by every
# Notepad from Windows 7 on, whatever the system's code page. Russian comes
# first, since that is what the operators read.

winreadme_pack() {
  { printf '\357\273\277'; sed 's/\r*$/\r/' "$1"; } >"$2"
}

winreadme_fault() {
  local file=$1 lines crlf version
  version=$(sed -n 's/^project(Rilvano VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")
  if [ "$(head -c 3 "$file" | od -An -tx1 | tr -d ' \n')" != efbbbf ]; then
    echo "does not start with the UTF-8 byte order mark"
  elif ! iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1; then
    echo "is not valid UTF-8"
  elif [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' \n')" != 0d0a ]; then
    echo "does not end with CR LF"
  elif lines=$(LC_ALL=C grep -c '' "$file") crlf=$(LC_ALL=C grep -c $'\r$' "$file") && [ "$lines" -ne "$crlf" ]; then
    echo "$((lines - crlf)) of its $lines lines do not end with CR LF"
  elif LC_ALL=C grep $'\r.' "$file" >/dev/null; then
    echo "holds a CR inside a line"
  elif [ "$(head -n 1 "$file")" != $'\357\273\277'"Rilvano $version для Windows"$'\r' ]; then
    echo "does not open with the Russian title 'Rilvano $version для Windows'"
  elif ! LC_ALL=C grep -x "Rilvano $version for Windows"$'\r' "$file" >/dev/null; then
    echo "has no English part titled 'Rilvano $version for Windows'"
  fi
}

winreadme_check() {
  local fault
  fault=$(winreadme_fault "$1")
  [ -z "$fault" ] || { echo "readme: ${2:-$1} $fault" >&2; return 1; }
}
