# Sourced by the scripts: which build this host can test, and why.
# Sets RAMCLEAN_ARCH (i686 or x86_64), ramclean_arch_reason and ramclean_preset, or fails.

# True when this host runs 32-bit x86 code: a 93-byte static i386 program that only exits 0.
# It needs nothing installed; where 32-bit emulation is off the kernel refuses to start it.
host_runs_32bit() {
  local probe
  probe=$(mktemp "${TMPDIR:-/tmp}/ramclean-i386-probe.XXXXXX") || return 1
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return $status
}

# Picks the build: RAMCLEAN_ARCH when set, else i686 where the host runs 32-bit code.
select_arch() {
  case "${RAMCLEAN_ARCH:-}" in
    i686)
      if ! host_runs_32bit; then
        echo "RAMCLEAN_ARCH=i686, but this host cannot run 32-bit x86 programs (32-bit" \
             "emulation is off): use RAMCLEAN_ARCH=x86_64 or no RAMCLEAN_ARCH." >&2
        return 1
      fi
      ramclean_arch_reason="RAMCLEAN_ARCH=i686 was given" ;;
    x86_64) ramclean_arch_reason="RAMCLEAN_ARCH=x86_64 was given" ;;
    "")
      if host_runs_32bit; then
        RAMCLEAN_ARCH=i686
        ramclean_arch_reason="this host runs 32-bit x86 code"
      else
        RAMCLEAN_ARCH=x86_64
        ramclean_arch_reason="this host runs 64-bit code only"
      fi ;;
    *)
      echo "RAMCLEAN_ARCH must be i686 or x86_64, not '$RAMCLEAN_ARCH'" >&2
      return 1 ;;
  esac
  case $RAMCLEAN_ARCH in
    i686) ramclean_preset=default ramclean_build_dir=build ;;
    x86_64) ramclean_preset=x64 ramclean_build_dir=build-x64 ;;
  esac
  export RAMCLEAN_ARCH
}
