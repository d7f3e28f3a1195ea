#!/usr/bin/env bash
# Builds minizip (unzip, zip and the Win32 file functions) as a static MinGW library
# from Debian's own source package, into .cache/minizip. The system's apt sources are
# left alone: a private source list and private lists folder are used instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache/minizip"
[ -f "$cache/lib/libminizip.a" ] && exit 0

work="$cache/work"
rm -rf "$work" && mkdir -p "$work/lists/partial" "$cache/lib" "$cache/include/minizip"
cd "$work"
echo "deb-src http://deb.debian.org/debian bookworm main" > src.list
o=(-o "Dir::Etc::SourceList=$work/src.list" -o Dir::Etc::SourceParts=/nonexistent
   -o "Dir::State::Lists=$work/lists")
apt-get "${o[@]}" update -qq
apt-get "${o[@]}" source --download-only minizip >/dev/null
dpkg-source -x minizip_*.dsc src >/dev/null

mz=src/contrib/minizip
[ -d "$mz" ] || mz=src
cc=x86_64-w64-mingw32-gcc
for f in unzip ioapi iowin32 zip; do
  $cc -O2 -c "$mz/$f.c" -o "$f.o" -w
done
x86_64-w64-mingw32-ar rcs "$cache/lib/libminizip.a" unzip.o ioapi.o iowin32.o zip.o
cp "$mz"/unzip.h "$mz"/zip.h "$mz"/ioapi.h "$mz"/iowin32.h "$cache/include/minizip/"
cd "$root" && rm -rf "$work"
echo "setup: minizip built into $cache"
