#!/usr/bin/env bash
# Starts ramclean under the Wine virtual desktop and saves screenshots for people to look at:
# as started, during a cleaning run and after it. Checks the label's text in each state.
# Usage: screenshot.sh <wine-run> <bin> <out-folder>
set -euo pipefail
wine_run=$1 bin=$2 out=$3
running=C7E5C0EDD6D0A1A3A1A3A1A3      # 清理中。。。 in code page 936
finished=C7E5C0EDD2D1CDEAB3C9A3A1     # 清理已完成！
label() { "$wine_run" "$bin/probe.exe" text ramclean.exe 120 | tr -d '\r'; }
shot() {
  import -window root "$out/$1"
  [ "$(stat -c %s "$out/$1")" -gt 1000 ] || { echo "screenshot $1 is empty" >&2; exit 1; }
  echo "screenshot: $out/$1"
}
expect_label() {
  for _ in $(seq 50); do
    [ "$(label)" = "$1" ] && return 0
    sleep 0.2
  done
  echo "label is '$(label)', expected '$1'" >&2
  exit 1
}

mkdir -p "$out"
"$wine_run" "$bin/ramclean.exe" &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT
"$wine_run" "$bin/probe.exe" wait-visible ramclean.exe 15000
expect_label ""
sleep 0.5  # let it paint
shot ramclean.png
"$wine_run" "$bin/probe.exe" click ramclean.exe 100
expect_label "$running"
sleep 0.5
shot ramclean-cleaning.png
expect_label "$finished"
sleep 0.5
shot ramclean-finished.png
"$wine_run" "$bin/probe.exe" close ramclean.exe
timeout 30 tail --pid=$program -f /dev/null
