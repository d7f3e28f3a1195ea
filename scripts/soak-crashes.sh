#!/usr/bin/env bash
# Many rounds of the crash test (tests/gui/test_crash.py): the installer killed at
# seeded random moments of installs and uninstalls, each round ending with the game
# folder compared byte for byte with the one before the first install; then the check
# that an install's system calls flush each file's record line before the file is
# placed, on the rounds' 1,500-entry archive.
#   scripts/soak-crashes.sh [ROUNDS (default 30)] [SEED (default 22)]
# Run it after scripts/test.sh has built build/ (or the tree BUILD_DIR names), not while
# GUI tests on the same ports run. Prints one line per round.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$root/build}" && pwd)
cd "$root/tests/gui"
GUI_BUILD_DIR="$build" CRASH_ROUNDS="${1:-30}" CRASH_SEED="${2:-22}" TRACE_LARGE=1 \
  PYTHONDONTWRITEBYTECODE=1 \
  exec python3 -m unittest -v test_crash
