#!/usr/bin/env bash
# Packs the release zip, checks what it holds, unpacks it into D:\内存 工具\ (a space and
# Chinese characters, on a drive other than C:) and runs both programs from there.
# Usage: release_zip.sh <build dir> <version>   (run inside build/wine-session)
set -euo pipefail
build=$1 version=$2
wine_run=$build/wine-run
probe=$build/bin/probe.exe
prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
drive_c=$prefix/drive_c
window_class=RamCleanMainWindow
clean_button=100 status_label=120
finished_hex=C7E5C0EDD2D1CDEAB3C9A3A1  # 清理已完成！ in code page 936
image=$(sed -n 's/^RAMCLEAN_TOOL_IMAGE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$image" ] || image=$build/bin/memtool.exe

fail() { echo "FAIL: $*" >&2; exit 1; }

# The zip, packed apart from the one a user would build.
packages=$build/release-zip-test
rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -B "$packages" >/dev/null
zip_file=$packages/ramclean-$version-win32.zip
[ -f "$zip_file" ] || fail "no $zip_file"
listing=$(cmake -E tar tf "$zip_file" | sort | tr '\n' ' ')
[ "$listing" = "LICENSE.txt USER_GUIDE.txt ramclean-auto.exe ramclean.exe " ] ||
  fail "the zip holds: $listing"
echo "zip: $zip_file: $listing"

# D: is build/drive_d (mapped by wine-session).
folder_name="内存 工具"
folder=$(readlink -f "$prefix/dosdevices/d:")/$folder_name
[ -d "$(dirname "$folder")" ] || fail "drive D: is not mapped in $prefix"
rm -rf "$folder"
mkdir -p "$folder"
(cd "$folder" && cmake -E tar xf "$zip_file")
windows_folder="D:\\$folder_name"

work=$(mktemp -d /tmp/ramclean-zip.XXXXXX)
trap 'rm -rf "$work"; rm -rf "$folder"' EXIT
journal=$work/journal.txt
export RAMCLEAN_TOOL_JOURNAL="Z:${journal//\//\\}"
journal_options() { [ -f "$journal" ] && cut -d' ' -f1 "$journal" | tr '\n' ' '; }
five="-ew -es -em -et -e0 "
rm -f "$drive_c/RAMMap.exe" "$drive_c/QOLMEDR.bat"

# ramclean-auto, started from Z:\ by its Windows path.
code=0
(cd / && "$wine_run" "$windows_folder\\ramclean-auto.exe") || code=$?
[ "$code" -eq 0 ] || fail "ramclean-auto exit code $code"
[ "$(journal_options)" = "$five" ] || fail "ramclean-auto: journal '$(journal_options)'"
cmp -s "$drive_c/RAMMap.exe" "$image" || fail "C:\\RAMMap.exe is not the embedded image"
[ ! -e "$drive_c/QOLMEDR.bat" ] || fail "ramclean-auto left C:\\QOLMEDR.bat"
echo "ramclean-auto: exit code 0, journal: $(journal_options)"

# ramclean: its window, one click on Clean, the tool's run, the finished text, closing.
: >"$journal"
(cd / && exec "$wine_run" "$windows_folder\\ramclean.exe") &
program=$!
trap 'kill $program 2>/dev/null || true; rm -rf "$work"; rm -rf "$folder"' EXIT
"$wine_run" "$probe" wait-visible "$window_class" 15000 || fail "ramclean shows no window"
"$wine_run" "$probe" click "$window_class" "$clean_button" || fail "cannot click Clean"
for ((tries = 0; tries < 150; tries++)); do
  text=$("$wine_run" "$probe" text "$window_class" "$status_label" | tr -d '\r')
  [ "$text" = "$finished_hex" ] && break
  sleep 0.1
done
[ "$text" = "$finished_hex" ] || fail "ramclean's label ends as '$text'"
[ "$(journal_options)" = "$five" ] || fail "ramclean: journal '$(journal_options)'"
[ ! -e "$drive_c/QOLMEDR.bat" ] || fail "ramclean's run left C:\\QOLMEDR.bat"
"$wine_run" "$probe" close "$window_class" || fail "cannot close ramclean"
code=0
wait $program || code=$?
[ "$code" -eq 0 ] || fail "ramclean exit code $code"
echo "ramclean: the Clean click ran the tool ($(journal_options)), exit code 0"
