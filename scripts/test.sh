#!/usr/bin/env bash
# Runs every test: unit tests and GUI tests of the real exe, under Wine in a private
# prefix, on a private Xvfb display. Sets the machine up on first use.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw

. scripts/wine-env.sh "$root/build/wine-test"
xvfb_start
trap 'wineserver -k 2>/dev/null || true; xvfb_stop' EXIT
wine_prefix_ready

ctest --preset mingw "$@"
