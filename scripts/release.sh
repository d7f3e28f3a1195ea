#!/usr/bin/env bash
# Makes a release of the committed source into one folder (release/, or -o OUT_DIR):
#   ZelkorsModsPackSetup-VERSION.exe  the installer; signed when a certificate is given
#   BUILDINFO                         what it was built from and with, for a verifier
#   SHA256SUMS                        of both
# The exe's bytes (less a signature) depend on the commit, the toolchain's and
# libraries' versions and the -D definitions only: the PE time stamp is the commit's
# time, and no folder, user or host name goes in. BUILDINFO lists all of them.
#
# Usage: scripts/release.sh [-o OUT_DIR] [-DMOD_SHA256_0=HEX -DMOD_SHA256_1=HEX ...]
#   -D definitions go to the configure step of the mingw-release preset.
# Signing: SIGN_PFX, SIGN_PASSWORD_FILE, SIGN_URL and optionally SIGN_TIMESTAMP_URL in
# the environment (see scripts/sign-release.sh); without SIGN_PFX it is left unsigned.
set -euo pipefail
usage="usage: release.sh [-o OUT_DIR] [-DNAME=VALUE ...]"
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/release"
defs=()
while [ $# -gt 0 ]; do
  case $1 in
    -o) [ $# -ge 2 ] || { echo "release: $usage" >&2; exit 2; }
        mkdir -p "$2" && out=$(cd "$2" && pwd); shift 2 ;;
    -D?*) defs+=("$1"); shift ;;
    *) echo "release: unknown argument $1; $usage" >&2; exit 2 ;;
  esac
done
cd "$root"

if [ -n "$(git status --porcelain)" ]; then
  echo "release: the work tree has changes; a release is built from a commit, unchanged" >&2
  exit 1
fi
if [ "$out" = "$root/release" ]; then
  rm -rf "$out" && mkdir -p "$out"
elif [ -n "$(ls -A "$out")" ]; then
  echo "release: $out is not empty" >&2
  exit 1
fi
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH

# A fresh build folder: no cached setting of an earlier configure may slip in.
build="$root/build-release"
rm -rf "$build"
scripts/build-minizip.sh "$build/minizip" >/dev/null
cmake --preset mingw-release -B "$build" -DMINIZIP_ROOT="$build/minizip" "${defs[@]}" >/dev/null
cmake --build "$build" --parallel 2 >/dev/null

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
for row in 0 1 2; do
  [ -n "$(cached MOD_SHA256_$row)" ] ||
    echo "release: warning: catalogue row $row is not pinned (no -DMOD_SHA256_$row)" >&2
done
version=$(cached CMAKE_PROJECT_VERSION)
name="ZelkorsModsPackSetup-$version.exe"
exe="$build/ZelkorsModsPackSetup.exe"

if [ -n "${SIGN_PFX:-}" ]; then
  scripts/sign-release.sh "$exe" "$out/$name"
  signature="Authenticode, SHA-256, not time-stamped"
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] ||
    signature="Authenticode, SHA-256, time-stamped by $SIGN_TIMESTAMP_URL"
else
  cp "$exe" "$out/$name"
  signature="none: this release is not signed"
fi

package_versions() {
  dpkg-query -W -f='  ${Package} ${Version}\n' gcc-mingw-w64-x86-64-posix \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-base binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev libz-mingw-w64-dev cmake make python3 dpkg-dev osslsigncode \
    2>/dev/null || true
}
rebuild=""
[ ${#defs[@]} -eq 0 ] || rebuild=$(printf ' %q' "${defs[@]}")
{
  echo "product: ZelkorsModsPackSetup $version"
  echo "file: $name"
  echo "commit: $commit"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
  echo "rebuild: scripts/release.sh$rebuild"
  for row in 0 1 2; do
    echo "MOD_URL_$row: $(cached MOD_URL_$row)"
    echo "MOD_SHA256_$row: $(cached MOD_SHA256_$row)"
  done
  echo "compiler: $(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
  echo "linker: $(x86_64-w64-mingw32-ld --version | head -n 1)"
  echo "minizip: built from $(cd .cache/minizip-source && ls minizip_*.dsc)" \
       "(sha256 $(sha256sum .cache/minizip-source/minizip_*.dsc | cut -d ' ' -f 1))"
  echo "packages:"
  package_versions
  echo "unsigned exe sha256: $(sha256sum "$exe" | cut -d ' ' -f 1)"
  echo "signature: $signature"
} > "$out/BUILDINFO"
(cd "$out" && sha256sum "$name" BUILDINFO > SHA256SUMS)
echo "release: $out/$name ($signature)"
