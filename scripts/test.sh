#!/usr/bin/env bash
# Sets up, builds and runs every unit and end-to-end test under Wine and Xvfb, for the build
# this host can run: i686 where it runs 32-bit code, x86_64 where it runs 64-bit code only.
# RAMCLEAN_ARCH=i686 or RAMCLEAN_ARCH=x86_64 forces one. Extra arguments go to ctest on top of
# the build's test preset (e.g. -R Staging); --bench runs the benchmarks instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
source scripts/host-arch.sh
select_arch
preset=$ramclean_preset
if [ "${1:-}" = --bench ]; then
  shift
  preset=$ramclean_preset-bench
fi
echo "test: the $RAMCLEAN_ARCH build, because $ramclean_arch_reason"
scripts/build.sh
status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$ramclean_build_dir/wine-session" \
  ctest --preset "$preset" --no-tests=error "$@" || status=$?
echo "test: the $RAMCLEAN_ARCH build ($ramclean_arch_reason): $([ $status -eq 0 ] && echo passed || echo "FAILED, status $status")"
exit $status
