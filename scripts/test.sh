#!/usr/bin/env bash
# Sets up, builds and runs every unit and end-to-end test under Wine and Xvfb.
# Extra arguments go to ctest (e.g. -R Staging, or -L bench for the benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
args=("$@")
[ ${#args[@]} -gt 0 ] || args=(--preset default)
exec xvfb-run -a -s "-screen 0 1024x768x24" build/wine-session \
  ctest --test-dir build --output-on-failure "${args[@]}"
