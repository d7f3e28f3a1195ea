#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine, then
# builds minizip for MinGW from Debian's source package into a cache folder.
# Idempotent: a second run only checks and returns.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine64 wine xvfb xdotool x11-utils imagemagick
  fonts-noto-cjk fonts-wine locales
  cmake make googletest dpkg-dev
  python3 openssl zip unzip curl util-linux iproute2 git osslsigncode nginx-light strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The wizard speaks Japanese: Wine picks code page 932 and Japanese texts from LANG.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

"$root/scripts/build-minizip.sh"
