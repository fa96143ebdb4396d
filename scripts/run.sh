#!/usr/bin/env bash
# Sets up, builds and starts ramclean under Wine (the build this host can run; see test.sh):
# on your display when there is one, otherwise under Xvfb, where it cleans once, saves
# screenshots and prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
source scripts/host-arch.sh
select_arch
echo "run: the $RAMCLEAN_ARCH build, because $ramclean_arch_reason"
scripts/build.sh >/dev/null
tree=$ramclean_build_dir
if [ -n "${DISPLAY:-}" ]; then
  exec "$tree/wine-session" "$tree/wine-run" "$tree/bin/ramclean.exe"
fi
shots="$PWD/$tree/screenshots"
xvfb-run -a -s "-screen 0 1024x768x24" "$tree/wine-session" \
  bash tests/e2e/screenshot.sh "$tree/wine-run" "$tree/bin" "$shots"
echo "ramclean ran under Xvfb (no DISPLAY): it was started, cleaned once and closed."
