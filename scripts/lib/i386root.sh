# 32-bit Wine on an x86_64 host whose kernel cannot execute i386 code:
# an i386 Debian 12 root with Wine, entered in a user namespace whose own
# binfmt_misc hands every i386 program to a static qemu-i386 (user-mode
# emulation). Sourced, not run.
#
#   i386root_usable         can this host make such a namespace? (root, a
#                           kernel with per-namespace binfmt_misc, 6.7+)
#   i386root_ensure         the cached root and emulator, built when missing
#                           or made from another package list or recipe
#   i386root_run CMD...     runs CMD (a host program) in the namespace: the
#                           root's /dev, /dev/pts, /proc, /tmp are mounted,
#                           this clone is bound at its own path, and
#                           WINE_ROOT_BIN names the root's wine/wineserver
#   i386root_route DIR      native, qemu or none: how 32-bit Wine runs here
#
# The cache lives outside the clone so that every clone and run shares it:
# RILVANO_I386_CACHE, default /var/cache/rilvano/i386-root (about 0.9 GB):
#   rootfs/              the i386 Debian root
#   qemu-i386-static     the emulator, taken from Debian's qemu-user
#                        in bookworm-backports (bookworm's 7.2 crashes
#                        wineboot and takes a minute per Wine process)
#   bin/                 wine and wineserver, run inside the root
#   stamp                recipe version and package list it was made from
# It is built in a temporary folder beside it and renamed when complete, so
# a broken build is never taken for a cache. To drop it: rm -rf it.
#
# The machine's own binfmt_misc is never touched: the registration (with
# the F flag, so the emulator is opened at once and need not be inside the
# root) lives and dies with the namespace, and so does every process in it
# (unshare --pid --kill-child).

I386_CACHE=${RILVANO_I386_CACHE:-/var/cache/rilvano/i386-root}
I386_SUITE=bookworm
I386_MIRROR=${RILVANO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
I386_SECURITY=${RILVANO_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}
# Bump when the way the root is made changes; with the package list it is
# the stamp, and a cache with another stamp is rebuilt.
I386_RECIPE=1
I386_LOCALES=(ru_RU.UTF-8)
I386_REASON=""
I386_LIB=${BASH_SOURCE[0]}

# What goes into the root: 32-bit Wine and the fonts the host's runs have,
# so that windows look the same as under 64-bit Wine.
i386root_packages() {
  printf '%s\n' wine wine32 fonts-wine fonts-dejavu-core fonts-dejavu-extra locales
}

i386root_stamp() {
  echo "recipe $I386_RECIPE"
  echo "debian $I386_SUITE i386, minbase, --no-install-recommends"
  echo "packages $(i386root_packages | tr '\n' ' ')"
  echo "locales ${I386_LOCALES[*]}"
}

# Returns 0 when a user namespace with its own binfmt_misc can be made here;
# otherwise sets I386_REASON.
i386root_usable() {
  if [ "$(uname -m)" != x86_64 ]; then
    I386_REASON="this host is $(uname -m), and the i386 root is made for x86_64 hosts"
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    I386_REASON="the i386 root needs root (a full uid map for dpkg, and the package installs)"
    return 1
  fi
  local out
  if ! out=$(unshare --user --map-root-user --mount --pid --fork --mount-proc \
      sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && test -e /proc/sys/fs/binfmt_misc/register' 2>&1); then
    I386_REASON="a user namespace with its own binfmt_misc cannot be made here (it needs Linux 6.7 or later, this is $(uname -r), and user namespaces allowed: ${out:-no output})"
    return 1
  fi
}

i386root_ready() {
  [ -f "$I386_CACHE/stamp" ] && [ -x "$I386_CACHE/qemu-i386-static" ] && [ -x "$I386_CACHE/rootfs/usr/lib/wine/wine" ] \
    && [ "$(cat "$I386_CACHE/stamp")" = "$(i386root_stamp)" ]
}

# Tries a command up to three times: the network may flake.
i386root_retry() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    [ "$attempt" = 3 ] && break
    echo "i386root: '$*' failed (attempt $attempt of 3); retrying in $((attempt * 10)) s" >&2
    sleep $((attempt * 10))
  done
  return 1
}

i386root_ensure() {
  mkdir -p "$(dirname "$I386_CACHE")"
  # One build at a time, when several clones run at once.
  exec {I386_LOCK}>"$I386_CACHE.lock"
  flock "$I386_LOCK"
  local rc=0
  if i386root_ready; then
    echo "i386root: reusing $I386_CACHE ($(sed -n 's/^qemu //p' "$I386_CACHE/qemu-version" 2>/dev/null))"
  else
    if [ -e "$I386_CACHE" ]; then
      echo "i386root: $I386_CACHE is incomplete or was made from another package list; rebuilding it"
    fi
    rm -rf "$I386_CACHE".new.*
    i386root_build || rc=$?
  fi
  flock -u "$I386_LOCK"
  exec {I386_LOCK}>&-
  return $rc
}

# The host side: debootstrap for the first stage, and backports (for
# the emulator only; nothing is pinned to it) as an apt source.
i386root_host_sources() {
  local list=/etc/apt/sources.list.d/rilvano-bookworm-backports.sources
  if [ ! -f "$list" ]; then
    printf '%s\n' 'Types: deb' "URIs: $I386_MIRROR" 'Suites: bookworm-backports' 'Components: main' \
      'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$list"
    echo "i386root: added bookworm-backports as an apt source ($list)"
  fi
  i386root_retry apt-get update -qq
}

# The emulator: qemu-i386 (static-pie since qemu 9) unpacked from
# bookworm-backports' qemu-user rather than installed: the qemu-user-static
# package there is only a transitional one that pulls in qemu-user-binfmt,
# which registers the interpreters in the machine's own binfmt_misc.
i386root_fetch_qemu() {
  local dest=$1 tmp deb
  tmp=$(mktemp -d)
  # apt downloads as _apt, which must be able to write there.
  chmod 755 "$tmp"
  if ! (cd "$tmp" && i386root_retry apt-get download -q -t bookworm-backports qemu-user >/dev/null); then
    rm -rf "$tmp"
    return 1
  fi
  deb=$(echo "$tmp"/qemu-user_*.deb)
  if dpkg-deb -x "$deb" "$tmp/x" && cp "$tmp/x/usr/bin/qemu-i386" "$dest/qemu-i386-static" \
      && "$dest/qemu-i386-static" --version >/dev/null; then
    echo "qemu $(dpkg-deb -f "$deb" Version)" >"$dest/qemu-version"
    rm -rf "$tmp"
    return 0
  fi
  rm -rf "$tmp"
  return 1
}

i386root_build() {
  local t0=$SECONDS new
  scripts/install-deps debootstrap wget || return 1
  i386root_host_sources || return 1
  new=$(mktemp -d "$I386_CACHE.new.XXXXXX") && chmod 755 "$new" || return 1
  # A failed build leaves nothing behind.
  trap 'rm -rf "$new"; trap - RETURN' RETURN
  echo "i386root: building the i386 root in $new (once; about 10 minutes)"
  i386root_fetch_qemu "$new" || { echo "i386root: qemu-user-static could not be fetched from bookworm-backports" >&2; return 1; }
  echo "i386root: the emulator is qemu-i386 $(sed -n 's/^qemu //p' "$new/qemu-version") (static)"
  local stage1=0
  for attempt in 1 2 3; do
    rm -rf "$new/rootfs"
    if debootstrap --arch=i386 --foreign --variant=minbase \
        --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        "$I386_SUITE" "$new/rootfs" "$I386_MIRROR" >"$new/debootstrap.log" 2>&1; then
      stage1=1
      break
    fi
    echo "i386root: debootstrap (first stage) failed, attempt $attempt of 3: $(tail -1 "$new/debootstrap.log")" >&2
    sleep $((attempt * 10))
  done
  [ "$stage1" = 1 ] || { cat "$new/debootstrap.log" >&2; return 1; }
  echo "i386root: first stage done ($((SECONDS - t0)) s)"

  printf '%s\n' "deb $I386_MIRROR $I386_SUITE main" "deb $I386_MIRROR $I386_SUITE-updates main" \
    "deb $I386_SECURITY $I386_SUITE-security main" >"$new/rootfs/etc/apt/sources.list" || return 1
  mkdir -p "$new/bin" || return 1
  # WINESERVER, set by wine_use, names the server inside the root.
  printf '%s\n' '#!/bin/sh' \
    '# Runs a program of the i386 root there, in the current folder; only inside' \
    '# the namespace made by scripts/lib/i386root.sh (its binfmt_misc runs i386 code).' \
    'root=$(dirname "$(dirname "$(readlink -f "$0")")")/rootfs' \
    'exec chroot "$root" /bin/sh -c '\''cd "$1" 2>/dev/null || cd /; shift; exec "$@"'\'' sh "$PWD" "$@"' >"$new/bin/in-root"
  printf '%s\n' '#!/bin/sh' 'exec "$(dirname "$0")/in-root" /usr/lib/wine/wine "$@"' >"$new/bin/wine"
  printf '%s\n' '#!/bin/sh' 'exec "$(dirname "$0")/in-root" "${WINESERVER:-/usr/lib/wine/wineserver32}" "$@"' >"$new/bin/wineserver"
  chmod +x "$new/bin/in-root" "$new/bin/wine" "$new/bin/wineserver" || return 1

  local inner
  inner=$(printf 'set -e
export container=lxc DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 LC_ALL=C.UTF-8
r=%q
chroot "$r" /debootstrap/debootstrap --second-stage >/tmp/stage2.log 2>&1 || { tail -30 /tmp/stage2.log >&2; exit 1; }
echo "i386root: second stage done"
cp -L /etc/resolv.conf "$r/etc/resolv.conf"
apt_get() { chroot "$r" apt-get -q -o Acquire::Retries=3 -o APT::Install-Recommends=false "$@"; }
for a in 1 2 3; do apt_get update >/tmp/apt.log 2>&1 && break; [ $a = 3 ] && { cat /tmp/apt.log >&2; exit 1; }; sleep 10; done
for a in 1 2 3; do apt_get install -y %s >/tmp/apt.log 2>&1 && break; [ $a = 3 ] && { tail -40 /tmp/apt.log >&2; exit 1; }; sleep 10; done
echo "i386root: $(chroot "$r" dpkg-query -W -f="\\${Package} \\${Version}\\n" wine32) installed"
for l in %s; do chroot "$r" localedef -i "${l%%%%.*}" -f "${l#*.}" "$l"; done
apt_get clean
rm -rf "$r/var/lib/apt/lists/"*
' "$new/rootfs" "$(i386root_packages | tr '\n' ' ')" "${I386_LOCALES[*]}")
  if ! I386_QEMU="$new/qemu-i386-static" i386root_ns "$new/rootfs" -- bash -c "$inner"; then
    echo "i386root: making the i386 root failed" >&2
    return 1
  fi
  [ -x "$new/rootfs/usr/lib/wine/wine" ] || { echo "i386root: the root has no /usr/lib/wine/wine" >&2; return 1; }
  rm -f "$new/debootstrap.log"
  i386root_stamp >"$new/stamp" || return 1
  if [ -e "$I386_CACHE" ]; then
    mv "$I386_CACHE" "$new.old" && rm -rf "$new.old" || return 1
  fi
  mv "$new" "$I386_CACHE" || return 1
  echo "i386root: $I386_CACHE made in $((SECONDS - t0)) s ($(du -sh "$I386_CACHE" | cut -f1))"
}

# i386root_ns ROOTFS [BIND...] -- CMD...: CMD in a new user, mount and pid
# namespace with uids and gids 0..4294967295 mapped to themselves (dpkg
# chowns to system users; --map-root-user maps uid 0 only), the root's
# mounts made and each BIND folder bound at its own path inside the root.
i386root_ns() {
  local rootfs=$1 pid me ns rc=0
  shift
  me=$(readlink /proc/self/ns/user)
  unshare --user --mount --pid --fork --kill-child \
    bash -c 'source "$0"; i386root_ns_inside "$@"' "$I386_LIB" "${I386_QEMU:-$I386_CACHE/qemu-i386-static}" "$rootfs" "$@" &
  pid=$!
  for _ in $(seq 500); do
    ns=$(readlink "/proc/$pid/ns/user" 2>/dev/null) || break
    [ "$ns" != "$me" ] && break
    sleep 0.01
  done
  if ! { echo '0 0 4294967295' >"/proc/$pid/uid_map" && echo '0 0 4294967295' >"/proc/$pid/gid_map"; } 2>/dev/null; then
    echo "i386root: could not map the namespace's users" >&2
  fi
  wait "$pid" || rc=$?
  return $rc
}

# In the namespace, as its pid 1 (host programs; only what the root runs
# is i386).
i386root_ns_inside() {
  local qemu=$1 rootfs=$2 b
  shift 2
  for _ in $(seq 500); do
    [ -n "$(cat /proc/self/uid_map)" ] && break
    sleep 0.01
  done
  [ -n "$(cat /proc/self/uid_map)" ] || { echo "i386root: no uid map" >&2; return 1; }
  set -e
  mount -t proc proc /proc
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # qemu's own magic and mask for i386 ELF executables and shared objects.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >/proc/sys/fs/binfmt_misc/register
  mount --rbind /dev "$rootfs/dev"
  mount -t proc proc "$rootfs/proc"
  mount -t tmpfs -o mode=1777 tmpfs "$rootfs/tmp"
  # X clients (make run-windows, make screenshot) reach the host's server.
  if [ -d /tmp/.X11-unix ]; then
    mkdir "$rootfs/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$rootfs/tmp/.X11-unix"
  fi
  if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    touch "$rootfs/tmp/.Xauthority"
    mount --bind "$XAUTHORITY" "$rootfs/tmp/.Xauthority"
    export XAUTHORITY=/tmp/.Xauthority
  fi
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    b=$1
    shift
    mkdir -p "$rootfs$b"
    mount --bind "$b" "$rootfs$b"
  done
  shift
  set +e
  "$@"
}

# CMD in the namespace with the cached root, this clone bound inside.
i386root_run() {
  WINE_ROOT_BIN=$I386_CACHE/bin i386root_ns "$I386_CACHE/rootfs" "$PWD" -- "$@"
}

# How 32-bit Wine runs here (needs scripts/lib/wine.sh): sets WINE32_ROUTE
# to native (the kernel runs i386 code), qemu (the i386 root in a user
# namespace) or none, and for none WINE32_REASON to both reasons.
# RILVANO_WINE32_ROUTE=qemu takes the emulated route even where the kernel
# runs i386 code, to try it on such a host.
i386root_route() {
  if [ "${RILVANO_WINE32_ROUTE:-}" = qemu ]; then
    WINE32_REASON="RILVANO_WINE32_ROUTE=qemu"
    if i386root_usable; then
      WINE32_ROUTE=qemu
    else
      WINE32_ROUTE=none
      WINE32_REASON="$WINE32_REASON, but $I386_REASON"
    fi
  elif wine_probe_32bit "$1"; then
    WINE32_ROUTE=native
  elif i386root_usable; then
    WINE32_ROUTE=qemu
  else
    WINE32_ROUTE=none
    WINE32_REASON="$WINE32_REASON, and $I386_REASON"
  fi
}

# One line naming the route, for the stages' output.
i386root_route_name() {
  case $WINE32_ROUTE in
    native) echo "32-bit Wine, natively" ;;
    qemu) echo "32-bit Wine in the i386 root ($I386_CACHE) through qemu-i386 $(sed -n 's/^qemu //p' "$I386_CACHE/qemu-version" 2>/dev/null) in a user namespace" ;;
    none) echo "no 32-bit Wine ($WINE32_REASON)" ;;
  esac
}
