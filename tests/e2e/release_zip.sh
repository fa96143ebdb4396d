#!/usr/bin/env bash
# Packs the release zip, checks what it holds, unpacks it into D:\release-zip-test\<folder>\
# (a drive other than C:) and runs both programs from there.
# Usage: release_zip.sh <build dir> <folder>   (run inside the build tree's wine-session)
# <folder> is written in code page 936 with printf escapes, e.g. '\xC4\xDA\xB4\xE6 \xB9\xA4\xBE\xDF'
# for 内存 工具. Exit code 77 (skipped) when Wine cannot create that folder.
set -euo pipefail
build=$1 folder_gbk=$2
source "$build/wine-env"
wine_run=$build/wine-run
probe=$ramclean_bin/probe.exe
drive_c=$WINEPREFIX/drive_c
program_image=ramclean.exe
clean_button=100 status_label=120
finished_hex=C7E5C0EDD2D1CDEAB3C9A3A1  # 清理已完成！ in code page 936
image=$ramclean_tool_image

fail() { echo "FAIL: $*" >&2; exit 1; }

# The zip, packed apart from the one a user would build.
packages=$build/release-zip-test
rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -B "$packages" >/dev/null
zip_file=$packages/$ramclean_package.zip
[ -f "$zip_file" ] || fail "no $zip_file"
listing=$(cmake -E tar tf "$zip_file" | sort | tr '\n' ' ')
[ "$listing" = "LICENSE.txt USER_GUIDE.txt ramclean-auto.exe ramclean.exe " ] ||
  fail "the zip holds: $listing"
echo "zip: $zip_file: $listing"

# The programs are of the zip's architecture; the texts open in any Notepad: CRLF line ends
# only, and the guide (not ASCII) starts with a UTF-8 byte-order mark.
contents=$(mktemp -d /tmp/ramclean-zip-contents.XXXXXX)
(cd "$contents" && cmake -E tar xf "$zip_file")
case $ramclean_package in
  *-win32) format="PE32 executable (GUI) Intel 80386" ;;
  *-win64) format="PE32+ executable (GUI) x86-64" ;;
  *) fail "no architecture in the package name $ramclean_package" ;;
esac
for program in ramclean.exe ramclean-auto.exe; do
  file -b "$contents/$program" | grep -q "^$format" ||
    fail "$program is $(file -b "$contents/$program"), not $format"
done
for text in USER_GUIDE.txt LICENSE.txt; do
  [ "$(grep -vc $'\r$' "$contents/$text")" -eq 0 ] || fail "$text has lines without CR LF"
  [ "$(tail -c 2 "$contents/$text" | od -An -tx1 | tr -d ' ')" = 0d0a ] ||
    fail "$text does not end in CR LF"
done
[ "$(head -c 3 "$contents/USER_GUIDE.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] ||
  fail "USER_GUIDE.txt has no UTF-8 byte-order mark"
rm -rf "$contents"
echo "zip: programs are $format; USER_GUIDE.txt and LICENSE.txt have CR LF, the guide a BOM"

# Wine reads its arguments and Unix file names in the Unix locale's character set, so Chinese
# names need the glibc zh_CN.UTF-8 locale. Batch files in code page 936 unpack and start the
# programs instead, as a user's shortcut or Task Scheduler would, from Z:\.
tests_root=$(readlink -f "$WINEPREFIX/dosdevices/d:")/release-zip-test  # D: is build/drive_d
[ -d "$(dirname "$tests_root")" ] || fail "drive D: is not mapped in $WINEPREFIX"
work=$(mktemp -d /tmp/ramclean-zip.XXXXXX)
trap 'rm -rf "$work" "$tests_root"' EXIT
rm -rf "$tests_root"
mkdir -p "$tests_root/unpacked"
(cd "$tests_root/unpacked" && cmake -E tar xf "$zip_file")
windows_work="Z:${work//\//\\}"
batch() {  # <file> <lines...>: a batch file in code page 936, with printf escapes
  local file=$1
  shift
  printf '@%b\r\n' "$@" >"$work/$file"
}
target='D:\\release-zip-test\\'"$folder_gbk"
batch unpack.bat "mkdir \"$target\"" "copy /y \"D:\\\\release-zip-test\\\\unpacked\\\\*\" \"$target\\\\\" >nul" \
  "if not exist \"$target\\\\ramclean.exe\" exit 77" "exit 0"
code=0
(cd / && "$wine_run" cmd /c "$windows_work\\unpack.bat") || code=$?
if [ "$code" -eq 77 ]; then
  echo "SKIP: Wine cannot create the folder here (no glibc locale for its name's characters?)"
  exit 77
fi
[ "$code" -eq 0 ] || fail "unpacking: exit code $code"
rm -rf "$tests_root/unpacked"  # only the copies in the folder are left to run
[ "$(find "$tests_root" -type f | wc -l)" -eq 4 ] || fail "the folder does not hold the four files"
batch auto.bat "start \"\" /wait \"$target\\\\ramclean-auto.exe\"" "exit %ERRORLEVEL%"
batch interactive.bat "start \"\" /wait \"$target\\\\ramclean.exe\"" "exit %ERRORLEVEL%"

journal=$work/journal.txt
export RAMCLEAN_TOOL_JOURNAL="Z:${journal//\//\\}"
journal_options() { [ -f "$journal" ] && cut -d' ' -f1 "$journal" | tr '\n' ' '; }
five="-ew -es -em -et -e0 "
rm -f "$drive_c/RAMMap.exe" "$drive_c/QOLMEDR.bat"

# ramclean-auto: cleans once, invisibly, and ends with 0.
code=0
(cd / && "$wine_run" cmd /c "$windows_work\\auto.bat") || code=$?
[ "$code" -eq 0 ] || fail "ramclean-auto exit code $code"
[ "$(journal_options)" = "$five" ] || fail "ramclean-auto: journal '$(journal_options)'"
cmp -s "$drive_c/RAMMap.exe" "$image" || fail "C:\\RAMMap.exe is not the embedded image"
[ ! -e "$drive_c/QOLMEDR.bat" ] || fail "ramclean-auto left C:\\QOLMEDR.bat"
echo "ramclean-auto: exit code 0, journal: $(journal_options)"

# ramclean: its window, one click on Clean, the tool's run, the finished text, closing.
: >"$journal"
(cd / && exec "$wine_run" cmd /c "$windows_work\\interactive.bat") &
program=$!
trap 'kill $program 2>/dev/null || true; rm -rf "$work" "$tests_root"' EXIT
"$wine_run" "$probe" wait-visible "$program_image" 15000 || fail "ramclean shows no window"
"$wine_run" "$probe" click "$program_image" "$clean_button" || fail "cannot click Clean"
for ((tries = 0; tries < 150; tries++)); do
  text=$("$wine_run" "$probe" text "$program_image" "$status_label" | tr -d '\r')
  [ "$text" = "$finished_hex" ] && break
  sleep 0.1
done
[ "$text" = "$finished_hex" ] || fail "ramclean's label ends as '$text'"
[ "$(journal_options)" = "$five" ] || fail "ramclean: journal '$(journal_options)'"
[ ! -e "$drive_c/QOLMEDR.bat" ] || fail "ramclean's run left C:\\QOLMEDR.bat"
"$wine_run" "$probe" close "$program_image" || fail "cannot close ramclean"
code=0
wait $program || code=$?
[ "$code" -eq 0 ] || fail "ramclean exit code $code"
echo "ramclean: the Clean click ran the tool ($(journal_options)), exit code 0"
