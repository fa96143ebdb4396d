#!/usr/bin/env bash
# Runs ramclean-auto back to back N times (default 50) in the build tree's Wine prefix and
# checks after each run everything a run must leave behind: exit code 0, no C:\QOLMEDR.bat,
# C:\RAMMap.exe byte for byte the embedded tool image, no RAMMap.exe, RAMMap64.exe or cmd.exe
# still running, and exactly the five tool options more in the tool's journal.
# Not part of the default test run. Usage: scripts/soak.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-50}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/soak.sh [runs]" >&2; exit 2; }

source scripts/host-arch.sh
select_arch
if [ -z "${RAMCLEAN_SOAK_SESSION:-}" ]; then
  scripts/build.sh >/dev/null
  echo "soak: the $RAMCLEAN_ARCH build ($ramclean_arch_reason)"
  # One display and one wineserver for all runs, as the test command has.
  export RAMCLEAN_SOAK_SESSION=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$ramclean_build_dir/wine-session" "$0" "$runs"
fi

source "$ramclean_build_dir/wine-env"
build=$ramclean_build
prefix=$WINEPREFIX
drive_c=$prefix/drive_c
image=$ramclean_tool_image
[ -f "$image" ] || { echo "soak: no tool image at $image" >&2; exit 2; }

work=$(mktemp -d /tmp/ramclean-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
journal=$work/journal.txt
: >"$journal"
# The tool sees the journal through Wine's Z: drive, the Unix root.
export RAMCLEAN_TOOL_JOURNAL="Z:${journal//\//\\}"
expected_options=$'-ew\n-es\n-em\n-et\n-e0'

# Processes of this prefix whose command line names one of the tool's or the script's programs.
leftovers() {
  local dir environment command
  for dir in /proc/[0-9]*; do
    environment=$(tr '\0' '\n' 2>/dev/null <"$dir/environ") || continue
    grep -qxF "WINEPREFIX=$prefix" <<<"$environment" || continue
    command=$(tr '\0' ' ' 2>/dev/null <"$dir/cmdline") || continue
    case "${command,,}" in
      *rammap.exe*|*rammap64.exe*|*cmd.exe*) echo "${dir#/proc/}: $command" ;;
    esac
  done
}

# A clean start: the first run stages the tool image itself.
rm -rf "$drive_c/RAMMap.exe" "$drive_c/QOLMEDR.bat"

passed=0 failed=0
for ((run = 1; run <= runs; run++)); do
  problems=()
  lines_before=$(wc -l <"$journal")
  code=0
  "$build/wine-run" "$ramclean_bin/ramclean-auto.exe" || code=$?
  [ "$code" -eq 0 ] || problems+=("exit code $code")
  [ -z "$(find "$drive_c" -maxdepth 1 -iname qolmedr.bat)" ] || problems+=("C:\\QOLMEDR.bat left")
  cmp -s "$drive_c/RAMMap.exe" "$image" || problems+=("C:\\RAMMap.exe differs from the image")
  # A process that was ended may take a moment to leave the process list.
  for ((tries = 0; tries < 20; tries++)); do
    left=$(leftovers)
    [ -n "$left" ] || break
    sleep 0.1
  done
  [ -z "$left" ] || problems+=("still running: ${left//$'\n'/; }")
  added=$(tail -n +"$((lines_before + 1))" "$journal" | cut -d' ' -f1)
  [ "$added" = "$expected_options" ] ||
    problems+=("journal grew by $(($(wc -l <"$journal") - lines_before)) lines: ${added//$'\n'/ }")
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'soak: run %d failed: %s\n' "$run" "$(IFS=';'; echo "${problems[*]}")" >&2
  fi
done
echo "soak: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
