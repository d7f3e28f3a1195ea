#!/usr/bin/env bash
# Runs every test: unit tests, network tests against a loopback server, and GUI tests
# of the real exe, under Wine in private prefixes, on a private Xvfb display. Sets the
# machine up on first use. Extra arguments go to ctest (e.g. -R gui.choose).
# BUILD_DIR picks another build tree than build/ (so two runs can go side by side,
# given other TEST_*_PORT values).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-$root/build}

bash scripts/setup.sh
cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build" -j2

. scripts/wine-env.sh "$build/wine-test"
xvfb_start
trap 'wineserver -k 2>/dev/null || true; xvfb_stop' EXIT
wine_prefix_ready

ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
