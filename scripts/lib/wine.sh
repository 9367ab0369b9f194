# Wine for the Windows stages (test-windows, run-windows, screenshot,
# bench-windows). Sourced, not run. Everything a stage needs to run Windows
# code on Linux lives here:
#
#   wine_probe_32bit DIR    can this host execute 32-bit x86 programs?
#   wine_packages           the Debian packages for the Wine runs this host can do
#   wine_use win32|win64    pick the loader and server for one architecture
#   wine_prefix_create DIR [null]
#                           a fresh private prefix (and the null graphics driver)
#   wine_link_com N TTY     COMn of the prefix is that pseudo-terminal
#   wine_wait / wine_kill   let the prefix's wineserver end / end it now
#   wine_hold               keep the prefix's wineserver up until wine_kill
#   wine_locale LOCALE      generates a glibc locale the runs need (root)
#
# Inside the namespace of scripts/lib/i386root.sh (WINE_ROOT_BIN set), win32
# is the 32-bit Wine of the i386 root, run through qemu-i386.
#
# 32-bit Wine needs a kernel that runs 32-bit user code (IA-32 emulation);
# some x86_64 kernels have it switched off, and then /usr/lib/wine/wine, and
# even Wine's 32-on-64 mode, cannot start. 64-bit Wine runs on every x86_64
# host. With wine32 installed /usr/bin/wine prefers the 32-bit loader, so the
# loaders and servers are always called by their own paths.

WINE_LIB_DIR=${WINE_LIB_DIR:-/usr/lib/wine}
WINE32_REASON=""

# Returns 0 when a tiny static i386 program (exit(42) through int $0x80)
# runs here; otherwise sets WINE32_REASON to what stopped it. Nothing is
# guessed from the kernel version or /proc: the probe is the same kind of
# program the 32-bit Wine loader is.
wine_probe_32bit() {
  local dir=$1 out rc=0
  mkdir -p "$dir"
  if [ "$(uname -m)" != x86_64 ] && [ "$(uname -m)" != i686 ]; then
    WINE32_REASON="this host is $(uname -m), not x86"
    return 1
  fi
  printf '%s\n' '.globl _start' '_start:' '  movl $1, %eax' '  movl $42, %ebx' '  int $0x80' >"$dir/probe32.s"
  if ! out=$(as --32 -o "$dir/probe32.o" "$dir/probe32.s" 2>&1 && ld -m elf_i386 -o "$dir/probe32" "$dir/probe32.o" 2>&1); then
    WINE32_REASON="the 32-bit probe could not be built (as --32 / ld -m elf_i386: $out)"
    return 1
  fi
  out=$("$dir/probe32" 2>&1) || rc=$?
  [ "$rc" -eq 42 ] && return 0
  # bash reports a refused exec as "...: cannot execute binary file: Exec format error".
  out=$(printf '%s' "$out" | tail -1)
  WINE32_REASON="this host cannot execute 32-bit programs (a static i386 test program gave exit status $rc${out:+: ${out##*: }})"
  return 1
}

# The packages for the runs this host can do: 64-bit Wine always, 32-bit
# Wine (and with it the i386 architecture) only where 32-bit code runs.
# Argument: yes or no, the probe's answer.
wine_packages() {
  local with32=$1
  local list=(wine wine64 fonts-wine)
  if [ "$with32" = yes ]; then
    list+=(wine32)
  fi
  printf '%s\n' "${list[@]}"
}

# Adds the i386 architecture to dpkg when it is missing (root only).
wine_enable_i386() {
  dpkg --print-foreign-architectures | grep -x i386 >/dev/null && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "wine: the i386 architecture is needed for wine32: run as root, or: dpkg --add-architecture i386 && apt-get update" >&2
    return 1
  fi
  dpkg --add-architecture i386
  apt-get update -qq
}

# Wine takes the ANSI code page from LANG even without the glibc locale, but
# its Unix side then cannot convert non-ASCII file names: Cyrillic names fail.
# Generates e.g. ru_RU.UTF-8 where `locale -a` lacks it (needs the locales
# package and root).
wine_locale() {
  local name=$1 lang=${1%%.*} charset=${1#*.} listed
  listed=$(printf '%s' "$name" | sed 's/UTF-8$/utf8/')
  locale -a 2>/dev/null | grep -x "$listed" >/dev/null && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "wine: the locale $name is missing: run as root, or: localedef -i $lang -f $charset $name" >&2
    return 1
  fi
  echo "wine: generating the locale $name"
  localedef -i "$lang" -f "$charset" "$name"
}

# Picks the loader and server of one architecture: win64 or win32.
wine_use() {
  if [ -n "${WINE_ROOT_BIN:-}" ] && [ "$1" = win32 ]; then
    WINE_LOADER_BIN=$WINE_ROOT_BIN/wine
    WINE_SERVER_BIN=$WINE_ROOT_BIN/wineserver
    export WINEARCH=win32
    # The server's path inside the root, for the loader there.
    export WINESERVER=$WINE_LIB_DIR/wineserver32
    export WINEDEBUG=${WINEDEBUG:--all}
    return 0
  fi
  case $1 in
    win64)
      WINE_LOADER_BIN=$WINE_LIB_DIR/wine64
      WINE_SERVER_BIN=$WINE_LIB_DIR/wineserver64
      ;;
    win32)
      WINE_LOADER_BIN=$WINE_LIB_DIR/wine
      WINE_SERVER_BIN=$WINE_LIB_DIR/wineserver32
      [ -x "$WINE_SERVER_BIN" ] || WINE_SERVER_BIN=$WINE_LIB_DIR/wineserver
      ;;
    *)
      echo "wine_use: win32 or win64, not '$1'" >&2
      return 1
      ;;
  esac
  export WINEARCH=$1
  # The loader starts the wineserver it finds beside itself; with WINESERVER
  # it starts the one of this architecture.
  export WINESERVER=$WINE_SERVER_BIN
  export WINEDEBUG=${WINEDEBUG:--all}
  if [ ! -x "$WINE_LOADER_BIN" ]; then
    echo "wine: $WINE_LOADER_BIN is missing (package $( [ "$1" = win64 ] && echo wine64 || echo wine32 ))" >&2
    return 1
  fi
}

wine() { "$WINE_LOADER_BIN" "$@"; }

# The prefix's server: -w waits until it has ended by itself, -k ends it.
# Either must come before the far end of a linked pseudo-terminal closes:
# wineserver holds the pty as its controlling terminal and otherwise gets a
# SIGHUP flood.
wine_wait() { [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && "$WINE_SERVER_BIN" -w 2>/dev/null || true; }
wine_kill() { [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && "$WINE_SERVER_BIN" -k 2>/dev/null || true; }

# A server left to itself ends a few seconds after its last client; a program
# started just then can meet it closing ("wine client error:0: recvmsg:
# Connection reset by peer", seen between two test executables). Held, it
# stays up for a run of programs one after another, until wine_kill.
wine_hold() { "$WINE_SERVER_BIN" -p; }

# A fresh prefix in DIR for the architecture chosen by wine_use (about 7 s
# and 700 MB): one per stage run, shared by all the executables it starts.
# Mono and Gecko are not installed (the DLL overrides). With "null" as the
# second argument the prefix uses Wine's null graphics driver: windows are
# created and work without any X display, which is what the tests want.
wine_prefix_create() {
  local dir=$1 driver=${2:-}
  export WINEPREFIX=$dir
  wine_kill
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  # Seen once on a busy machine: the first wineboot of a prefix failing with
  # "could not load kernel32.dll"; a second attempt on a clean directory works.
  local attempt
  for attempt in 1 2; do
    if WINEDLLOVERRIDES="mscoree,mshtml=" env -u DISPLAY -u WAYLAND_DISPLAY \
        "$WINE_LOADER_BIN" wineboot -i >"$dir.wineboot.log" 2>&1; then
      break
    fi
    if [ "$attempt" = 2 ]; then
      echo "wine: creating the $WINEARCH prefix $dir failed; wineboot said:" >&2
      cat "$dir.wineboot.log" >&2
      return 1
    fi
    echo "wine: creating the $WINEARCH prefix failed ($(tail -1 "$dir.wineboot.log")); trying once more" >&2
    wine_kill
    rm -rf "$dir"
  done
  wine_prefix_fonts
  if [ "$driver" = null ]; then
    "$WINE_LOADER_BIN" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$dir.wineboot.log" 2>&1
  fi
  "$WINE_SERVER_BIN" -w
  if [ ! -f "$dir/system.reg" ]; then
    echo "wine: the prefix $dir was not created; wineboot said:" >&2
    cat "$dir.wineboot.log" >&2
    return 1
  fi
  rm -f "$dir.wineboot.log"
}

# Wine's own fonts (Tahoma, MS Sans Serif, Marlett for the caption buttons)
# into the prefix: Debian's Wine 8 does not find them in /usr/share/wine/fonts
# by itself, and without them windows are drawn in DejaVu with letters for
# the caption buttons.
wine_prefix_fonts() {
  local fonts=${WINE_ROOT_BIN:+$WINE_ROOT_BIN/../rootfs}/usr/share/wine/fonts
  [ -d "$fonts" ] || return 0
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp "$fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

# COMn of the current prefix opens the given pseudo-terminal (its slave side).
wine_link_com() {
  local n=$1 tty=$2
  ln -sfn "$tty" "$WINEPREFIX/dosdevices/com$n"
}

# Removes the current prefix after its server has gone.
wine_prefix_remove() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wine_kill
  rm -rf "$WINEPREFIX"
}
