#!/usr/bin/env bash
# Installs what building and testing ramclean needs on Debian 12, if it is missing.
# Where the host cannot run 32-bit code, no 32-bit package is installed: it could not start.
set -euo pipefail
source "$(dirname "$0")/host-arch.sh"

packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64
  xvfb xauth xdotool imagemagick fonts-wqy-microhei fonts-wine
  googletest zip file locales
)
runs_32bit=false
if host_runs_32bit; then
  runs_32bit=true
  packages+=(wine32:i386)
fi

# Wine reads Unix file names and arguments in the glibc locale it runs under: without a real
# zh_CN.UTF-8 locale, folders with Chinese names cannot be reached.
need_locale() { ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if $runs_32bit && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
if need_locale; then
  echo "setup: generating the zh_CN.UTF-8 locale" >&2
  $sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
