# Checks on the Linux executables of the package, read with readelf.
# Sourced, not run. Each check prints why it failed and returns 1.
#
#   elf_check_hardening FILE          what Debian's hardening=+all gives: a
#                                     position-independent executable (ASLR),
#                                     full RELRO (GNU_RELRO and BIND_NOW),
#                                     the stack protector and FORTIFY
#   elf_check_hardening_refuses DIR   compiles probes in DIR with one of
#                                     them off each and fails unless every
#                                     one is refused and the full set taken

elf_check_hardening() {
  local file=$1 header segments dynamic symbols missing=() m
  header=$(readelf -hW "$file" 2>/dev/null) || { echo "elf: $file is not an ELF file" >&2; return 1; }
  segments=$(readelf -lW "$file")
  dynamic=$(readelf -dW "$file")
  symbols=$(readelf --dyn-syms -W "$file")
  grep -Eq '^[[:space:]]*Type:[[:space:]]+DYN' <<<"$header" || missing+=("PIE (its type is not DYN: no ASLR for the program itself)")
  grep -Eq '^[[:space:]]*GNU_RELRO[[:space:]]' <<<"$segments" || missing+=("RELRO (no GNU_RELRO segment)")
  # -z now sets BIND_NOW, or NOW in FLAGS_1 (the GOT then is read-only too).
  grep -Eq '\(BIND_NOW\)|\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*[[:space:]]NOW' <<<"$dynamic" ||
    missing+=("BIND_NOW (RELRO only partial: the GOT stays writable)")
  grep -Eq '[[:space:]]__stack_chk_fail(@|$)' <<<"$symbols" || missing+=("SSP, the stack protector (no __stack_chk_fail)")
  # A build with FORTIFY calls the checking variants of the C library's
  # string and print functions.
  grep -Eq '[[:space:]]__[a-z0-9_]+_chk(@|$)' <<<"$symbols" || missing+=("FORTIFY (no __*_chk function imported)")
  if [ ${#missing[@]} -ne 0 ]; then
    for m in "${missing[@]}"; do
      echo "elf: $file lacks $m" >&2
    done
    return 1
  fi
}

elf_check_hardening_refuses() {
  local dir=$1 name want flags said bad=()
  local full="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fPIE -pie -Wl,-z,relro,-z,now"
  mkdir -p "$dir"
  # A stack buffer and a copy into it of a size not known when compiling:
  # what the stack protector guards and FORTIFY checks.
  printf '%s\n' '#include <stdio.h>' '#include <string.h>' \
    'int main(int argc, char** argv) { char b[64]; memcpy(b, argv[0], strlen(argv[0]) % 64);' \
    '  snprintf(b, sizeof b - (size_t)argc, "%d", argc); return b[0]; }' >"$dir/probe.c"
  # Each probe: the property it lacks ("-" for none: it must pass) and the
  # flags that take it away (after the full set, so they win).
  while read -r name want flags; do
    [ "$flags" = - ] && flags=""
    gcc $full $flags -o "$dir/$name" "$dir/probe.c" || return 1
    if said=$(elf_check_hardening "$dir/$name" 2>&1); then
      [ "$want" = - ] || bad+=("$name passed")
    elif [ "$want" = - ]; then
      bad+=("$name refused: $said")
    elif [[ $said != *"lacks $want"* ]]; then
      bad+=("$name refused, but not for lacking $want: $said")
    fi
  done <<'PROBES'
full - -
no-pie PIE -fno-PIE -no-pie
no-relro RELRO -Wl,-z,norelro
lazy BIND_NOW -Wl,-z,lazy
no-ssp SSP -fno-stack-protector
no-fortify FORTIFY -U_FORTIFY_SOURCE
PROBES
  if [ ${#bad[@]} -ne 0 ]; then
    printf 'elf: the hardening check is wrong about the probe %s\n' "${bad[@]}" >&2
    return 1
  fi
}
