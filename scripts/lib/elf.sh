# Checks on the Linux executables of the package, by Debian's hardening-check
# (devscripts). Sourced, not run. Each check prints why it failed and returns 1.
#
#   elf_check_hardening FILE          what Debian's hardening=+all gives: a
#                                     position-independent executable (ASLR),
#                                     full RELRO (GNU_RELRO and BIND_NOW),
#                                     the stack protector and FORTIFY
#   elf_check_hardening_refuses DIR   compiles probes in DIR with one of
#                                     them off each and fails unless every
#                                     one is refused and the full set taken
#                                     (make test, make test-package)

# Our name for each property, and the line of hardening-check's report on it.
ELF_HARDENING="PIE:Position Independent Executable
SSP:Stack protected
FORTIFY:Fortify Source functions
RELRO:Read-only relocations
BIND_NOW:Immediate binding"

elf_check_hardening() {
  local file=$1 report ours theirs said missing=()
  # Debian 12's hardening=+all has no control-flow protection to ask for.
  report=$(hardening-check --nocfprotection "$file" 2>&1) || true
  if ! grep -q '^ Position Independent Executable: ' <<<"$report"; then
    echo "elf: $file: hardening-check reads nothing from it (not an ELF file?)${report:+: $report}" >&2
    return 1
  fi
  # Each must be a yes ("yes (some protected functions found)" for FORTIFY
  # where some calls stay unchecked, their buffer's size unknown to the
  # compiler, as in ours). hardening-check passes FORTIFY as "unknown" when
  # the program calls no C library function that has a checking variant;
  # ours call plenty, so there it would mean they were lost.
  while IFS=: read -r ours theirs; do
    said=$(sed -n "s/^ $theirs: //p" <<<"$report")
    [[ $said == yes || $said == "yes ("* ]] || missing+=("$ours ($theirs: ${said:-not reported})")
  done <<<"$ELF_HARDENING"
  if [ ${#missing[@]} -ne 0 ]; then
    for said in "${missing[@]}"; do
      echo "elf: $file lacks $said" >&2
    done
    return 1
  fi
}

elf_check_hardening_refuses() {
  local dir=$1 name want flags said bad=()
  local full="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fPIE -pie -Wl,-z,relro,-z,now"
  mkdir -p "$dir"
  # A stack buffer and a copy into it of a size not known when compiling:
  # what the stack protector guards and FORTIFY checks. The memset into a
  # buffer of unknown size stays unchecked, as some calls in our programs do.
  # PLAIN keeps the buffer but calls nothing FORTIFY could check.
  printf '%s\n' '#include <stdio.h>' '#include <string.h>' \
    'int main(int argc, char** argv) { char b[64];' \
    '#ifdef PLAIN' '  ((volatile char*)b)[argc % 64] = 1; return ((volatile char*)b)[0];' '#else' \
    '  memset(argv[0], 0, (size_t)argc); memcpy(b, argv[0], strlen(argv[0]) % 64);' \
    '  snprintf(b, sizeof b - (size_t)argc, "%d", argc); return b[0];' '#endif' '}' >"$dir/probe.c"
  # Each probe: the property it lacks ("-" for none: it must pass) and the
  # flags that take it away (after the full set, so they win).
  while read -r name want flags; do
    [ "$flags" = - ] && flags=""
    gcc $full $flags -o "$dir/$name" "$dir/probe.c" || return 1
    if said=$(elf_check_hardening "$dir/$name" 2>&1); then
      [ "$want" = - ] || bad+=("$name passed")
    elif [ "$want" = - ]; then
      bad+=("$name refused: $said")
    elif [[ $said != *"lacks $want "* ]]; then
      bad+=("$name refused, but not for lacking $want: $said")
    fi
  done <<'PROBES'
full - -
no-pie PIE -fno-PIE -no-pie
no-relro RELRO -Wl,-z,norelro
lazy BIND_NOW -Wl,-z,lazy
no-ssp SSP -fno-stack-protector
no-fortify FORTIFY -U_FORTIFY_SOURCE
no-fortifiable-call FORTIFY -DPLAIN
PROBES
  if [ ${#bad[@]} -ne 0 ]; then
    printf 'elf: the hardening check is wrong about the probe %s\n' "${bad[@]}" >&2
    return 1
  fi
}
