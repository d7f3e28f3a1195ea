#!/usr/bin/env bash
# Builds minizip (unzip, zip and the Win32 file functions) as a static MinGW library
# from Debian's own source package, into .cache/minizip (or the folder given). The
# system's apt sources are left alone: a private source list and private lists folder
# are used instead.
#
# The source package is fetched once into .cache/minizip-source and kept, so that every
# later build, a release's included, compiles the very same source; the library is built
# the same way every time (no folder names in the objects, no dates or owners in the
# archive).
# Usage: scripts/build-minizip.sh [DEST]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/.cache/minizip}
source_cache="$root/.cache/minizip-source"

fetch_source() {
  compgen -G "$source_cache/minizip_*.dsc" >/dev/null && return 0
  # apt-get update clears its lists folder of everything else: the source list stays out.
  local apt="$source_cache/apt"
  mkdir -p "$apt/lists/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt/src.list"
  local o=(-o "Dir::Etc::SourceList=$apt/src.list" -o Dir::Etc::SourceParts=/nonexistent
           -o "Dir::State::Lists=$apt/lists")
  apt-get "${o[@]}" update -qq
  (cd "$source_cache" && apt-get "${o[@]}" source --download-only minizip >/dev/null)
  rm -rf "$apt"
}

fetch_source
[ -f "$dest/lib/libminizip.a" ] && exit 0
work="$dest/work"
rm -rf "$work" && mkdir -p "$work" "$dest/lib" "$dest/include/minizip"
cd "$work"
dpkg-source -x "$source_cache"/minizip_*.dsc src >/dev/null

mz=src/contrib/minizip
[ -d "$mz" ] || mz=src
cc=x86_64-w64-mingw32-gcc
for f in unzip ioapi iowin32 zip; do
  $cc -O2 "-ffile-prefix-map=$work=minizip" -c "$mz/$f.c" -o "$f.o" -w
done
x86_64-w64-mingw32-ar rcsD "$dest/lib/libminizip.a" unzip.o ioapi.o iowin32.o zip.o
cp "$mz"/unzip.h "$mz"/zip.h "$mz"/ioapi.h "$mz"/iowin32.h "$dest/include/minizip/"
cd "$root" && rm -rf "$work"
echo "setup: minizip built into $dest"
