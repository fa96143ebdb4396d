#!/usr/bin/env bash
# Configures and builds the default (i686 mingw-w64) tree in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default
