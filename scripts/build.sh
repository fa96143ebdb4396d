#!/usr/bin/env bash
# Configures and builds the tree this host can test: i686 in build/ where it runs 32-bit
# code, x86_64 in build-x64/ elsewhere; RAMCLEAN_ARCH=i686 or x86_64 picks one.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/host-arch.sh
select_arch
cmake --preset "$ramclean_preset" >/dev/null
cmake --build --preset "$ramclean_preset"
