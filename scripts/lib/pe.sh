# Checks on Windows executables built by MinGW, read with the target's
# objdump. Sourced, not run. Each check prints why it failed and returns 1.
#
#   pe_check_format EXE i686|x86_64   PE32 for i686, PE32+ for x86_64
#   pe_check_gui EXE                  the Windows GUI subsystem (no console)
#   pe_check_console EXE              the console subsystem (a command-line tool)
#   pe_check_imports EXE              only DLLs every Windows from 7 on has,
#                                     and no function newer than Windows 7
#   pe_check_hardening EXE            ASLR (DYNAMICBASE, relocations kept)
#                                     and NX; a PE32 also large-address-
#                                     aware, a PE32+ also HIGHENTROPYVA
#   pe_check_program EXE ARCH gui|console
#                                     all of the above that a shipped
#                                     program must pass
#   pe_check_hardening_refuses DIR    links probes in DIR with one flag off
#                                     each and fails unless every one is
#                                     refused and the full set is taken
#   pe_checks_refuse DIR              the checks' own test, on probes linked
#                                     in DIR: a DLL-dependent exe, a Windows
#                                     10 import, the wrong format, the wrong
#                                     subsystem and each hardening flag
#                                     missing must be refused, the clean
#                                     exes taken (make test, test-windows)

# The headers and import tables, by whichever MinGW objdump reads the file.
pe_objdump() {
  local exe=$1 triple
  for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
    command -v "$triple-objdump" >/dev/null && "$triple-objdump" -p "$exe" 2>/dev/null && return 0
  done
  echo "pe: no MinGW objdump reads $exe" >&2
  return 1
}

pe_check_format() {
  local exe=$1 arch=$2 want magic
  case $arch in
    i686) want="010b (PE32)" ;;
    x86_64) want="020b (PE32+)" ;;
    *) echo "pe_check_format: i686 or x86_64, not '$arch'" >&2; return 1 ;;
  esac
  magic=$(pe_objdump "$exe" | sed -n 's/^Magic[[:space:]]*\([0-9a-f]*\)[[:space:]]*\(.*\)$/\1 \2/p')
  if [ "$magic" != "$want" ]; then
    echo "pe: $exe is '${magic:-not a PE file}', not $want as an $arch build must be" >&2
    return 1
  fi
}

pe_check_subsystem() {
  local exe=$1 want=$2 subsystem
  subsystem=$(pe_objdump "$exe" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*(\(.*\))$/\1/p')
  if [ "$subsystem" != "$want" ]; then
    echo "pe: $exe has the subsystem '${subsystem:-none}', not $want" >&2
    return 1
  fi
}
pe_check_gui() { pe_check_subsystem "$1" "Windows GUI"; }
pe_check_console() { pe_check_subsystem "$1" "Windows CUI"; }

# DLLs that Windows itself ships, from Windows 7 on. A MinGW runtime DLL
# (libstdc++, libgcc, libwinpthread) means the static link failed and the
# exe would not start on a bare PC; an API set or shcore.dll means Windows 8
# or later.
PE_WINDOWS_DLLS="advapi32 comctl32 comdlg32 dwmapi gdi32 imm32 kernel32 msvcrt ntdll ole32 oleaut32 shell32 shlwapi user32 uxtheme version winmm ws2_32"

# Functions that appeared after Windows 7: importing one directly makes the
# loader refuse the exe there, so they must be looked up at run time.
PE_NEWER_FUNCTIONS="SetProcessDpiAwarenessContext SetThreadDpiAwarenessContext GetDpiForWindow GetDpiForSystem AdjustWindowRectExForDpi SystemParametersInfoForDpi GetSystemMetricsForDpi EnableNonClientDpiScaling SetProcessDpiAwareness GetDpiForMonitor GetSystemTimePreciseAsFileTime"

pe_check_imports() {
  local exe=$1 dump dlls dll lower bad=() newer=()
  dump=$(pe_objdump "$exe") || return 1
  dlls=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
  if [ -z "$dlls" ]; then
    echo "pe: $exe imports no DLL at all (is it a PE file?)" >&2
    return 1
  fi
  for dll in $dlls; do
    lower=$(printf '%s' "${dll%.*}" | tr 'A-Z' 'a-z')
    case " $PE_WINDOWS_DLLS " in
      *" $lower "*) ;;
      *) bad+=("$dll") ;;
    esac
  done
  for fn in $PE_NEWER_FUNCTIONS; do
    # Import lines end in the name: "<vma> <hint> Name".
    # A here-string, not a pipe: grep -q stops at the first match, and under
    # pipefail the writer's SIGPIPE would turn a found import into "not found".
    if grep -Eq "[[:space:]]$fn\$" <<<"$dump"; then
      newer+=("$fn")
    fi
  done
  if [ ${#bad[@]} -ne 0 ]; then
    echo "pe: $exe imports ${bad[*]}: not part of Windows (only Windows' own DLLs may be imported; link statically)" >&2
  fi
  if [ ${#newer[@]} -ne 0 ]; then
    echo "pe: $exe imports ${newer[*]} directly: newer than Windows 7, where the exe would then not start (look it up with GetProcAddress)" >&2
  fi
  [ ${#bad[@]} -eq 0 ] && [ ${#newer[@]} -eq 0 ] || return 1
  PE_IMPORTED_DLLS=$(printf '%s\n' $dlls | sort -uf | tr '\n' ' ')
}

# Bits of the COFF Characteristics and of the optional header's
# DllCharacteristics, as objdump -p prints them in hex.
pe_check_hardening() {
  local exe=$1 dump magic chars dll missing=()
  dump=$(pe_objdump "$exe") || return 1
  magic=$(sed -n 's/^Magic[[:space:]]*\([0-9a-f]*\).*/\1/p' <<<"$dump")
  chars=$(sed -n 's/^Characteristics 0x\([0-9a-f]*\)$/\1/p' <<<"$dump")
  dll=$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-f]*\)$/\1/p' <<<"$dump")
  if [ -z "$magic" ] || [ -z "$chars" ] || [ -z "$dll" ]; then
    echo "pe: $exe: no PE headers to read the hardening flags from" >&2
    return 1
  fi
  (( 0x$dll & 0x0040 )) || missing+=("DYNAMICBASE (ASLR)")
  # Without its relocations the loader cannot move the image, whatever
  # DYNAMICBASE says.
  (( 0x$chars & 0x0001 )) && missing+=("its relocations (stripped: no ASLR)")
  (( 0x$dll & 0x0100 )) || missing+=("NX_COMPAT (DEP)")
  case $magic in
    010b) (( 0x$chars & 0x0020 )) || missing+=("LARGE_ADDRESS_AWARE (4 GB instead of 2 GB under 64-bit Windows)") ;;
    020b) (( 0x$dll & 0x0020 )) || missing+=("HIGH_ENTROPY_VA (64-bit ASLR)") ;;
  esac
  if [ ${#missing[@]} -ne 0 ]; then
    local m
    for m in "${missing[@]}"; do
      echo "pe: $exe lacks $m; link with the project's CMake files" >&2
    done
    return 1
  fi
}

pe_check_program() {
  local exe=$1 arch=$2 kind=$3
  pe_check_format "$exe" "$arch" && "pe_check_$kind" "$exe" && pe_check_imports "$exe" && pe_check_hardening "$exe"
}

pe_check_hardening_refuses() {
  local dir=$1 name triple want flags said bad=()
  mkdir -p "$dir"
  printf 'int main(void) { return 0; }\n' >"$dir/flags.c"
  # Each probe: the flag it lacks ("-" for none: it must pass) and how it
  # is linked ("-" for no extra flag).
  while read -r name triple want flags; do
    [ "$flags" = - ] && flags=""
    "$triple-gcc-posix" -o "$dir/$name.exe" "$dir/flags.c" $flags || return 1
    if said=$(pe_check_hardening "$dir/$name.exe" 2>&1); then
      [ "$want" = - ] || bad+=("$name passed")
    elif [ "$want" = - ]; then
      bad+=("$name refused: $said")
    elif [[ $said != *"lacks "*"$want"* ]]; then
      bad+=("$name refused, but not for lacking $want: $said")
    fi
  done <<'PROBES'
full-32 i686-w64-mingw32 - -Wl,--large-address-aware
full-64 x86_64-w64-mingw32 - -
no-laa-32 i686-w64-mingw32 LARGE_ADDRESS_AWARE -
no-aslr-32 i686-w64-mingw32 DYNAMICBASE -Wl,--large-address-aware,--disable-dynamicbase
no-relocs-32 i686-w64-mingw32 relocations -Wl,--large-address-aware,--disable-reloc-section
no-nx-32 i686-w64-mingw32 NX_COMPAT -Wl,--large-address-aware,--disable-nxcompat
no-heva-64 x86_64-w64-mingw32 HIGH_ENTROPY_VA -Wl,--disable-high-entropy-va
PROBES
  if [ ${#bad[@]} -ne 0 ]; then
    printf 'pe: the hardening check is wrong about the probe %s\n' "${bad[@]}" >&2
    return 1
  fi
}

pe_checks_refuse() {
  local dir=$1 src bad=()
  mkdir -p "$dir"
  src=$dir/probe.cpp
  printf '%s\n' '#include <windows.h>' '#include <string>' \
    'int main(int argc, char**) { std::string s(argc, 0);' \
    '#ifdef NEWER' '  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);' '#endif' \
    '  return static_cast<int>(s.size()); }' >"$src"
  # One source: linked statically it is clean; dynamically it needs the
  # MinGW C++ runtime DLL; with NEWER it imports a Windows 10 function;
  # with -mwindows it is a GUI program instead of a console one.
  i686-w64-mingw32-g++-posix -O1 -static -o "$dir/static.exe" "$src" &&
    i686-w64-mingw32-g++-posix -O1 -o "$dir/dynamic.exe" "$src" &&
    i686-w64-mingw32-g++-posix -O1 -static -D_WIN32_WINNT=0x0A00 -DNEWER -o "$dir/newer.exe" "$src" &&
    i686-w64-mingw32-g++-posix -O1 -static -mwindows -o "$dir/gui.exe" "$src" || return 1
  pe_check_imports "$dir/static.exe" || bad+=("the import check refuses a clean exe")
  pe_check_imports "$dir/dynamic.exe" 2>/dev/null && bad+=("the import check let an exe needing libstdc++'s DLL pass")
  pe_check_imports "$dir/newer.exe" 2>/dev/null && bad+=("the import check let an exe importing SetProcessDpiAwarenessContext pass")
  pe_check_format "$dir/static.exe" i686 || bad+=("the format check refuses a PE32 as i686")
  pe_check_format "$dir/static.exe" x86_64 2>/dev/null && bad+=("the format check took PE32 for PE32+")
  if ! pe_check_console "$dir/static.exe" || pe_check_console "$dir/gui.exe" 2>/dev/null ||
    ! pe_check_gui "$dir/gui.exe" || pe_check_gui "$dir/static.exe" 2>/dev/null; then
    bad+=("the subsystem checks do not tell a console exe from a GUI one")
  fi
  if [ ${#bad[@]} -ne 0 ]; then
    printf 'pe: %s\n' "${bad[@]}" >&2
    return 1
  fi
  pe_check_hardening_refuses "$dir/flags"
}
