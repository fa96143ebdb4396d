#!/usr/bin/env bash
# Starts ramclean under the Wine virtual desktop, waits for its window and saves a
# screenshot of the screen for people to look at. Usage: screenshot.sh <wine-run> <bin> <out.png>
set -euo pipefail
wine_run=$1 bin=$2 out=$3
mkdir -p "$(dirname "$out")"
"$wine_run" "$bin/ramclean.exe" &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT
"$wine_run" "$bin/probe.exe" wait-visible ramclean.exe 15000
sleep 1  # let it paint
import -window root "$out"
"$wine_run" "$bin/probe.exe" close ramclean.exe
timeout 30 tail --pid=$program -f /dev/null
size=$(stat -c %s "$out")
[ "$size" -gt 1000 ] || { echo "screenshot too small: $size bytes" >&2; exit 1; }
echo "screenshot: $out"
