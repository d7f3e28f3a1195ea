#!/usr/bin/env bash
# Runs the installer for real, against sample mods served from this machine.
#
# Builds the installer with its catalogue URLs on a local HTTPS/HTTP server
# (build-demo/), serves three sample mods there, prepares a sample game folder
# (version 1.8.0.1) in a Wine prefix of its own, and runs the wizard: on $DISPLAY for
# you to click through when there is one; otherwise it drives every page on a private
# Xvfb display and saves a screenshot of each into screenshots/. Either way it then
# prints the installed files and the install log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build="$root/build-demo"
http_port=${DEMO_HTTP_PORT:-28080}
https_port=${DEMO_HTTPS_PORT:-28443}

bash scripts/setup.sh
cmake --preset mingw -B "$build" \
  -DMOD_URL_0="https://localhost:$https_port/mod/velloa?dl=7f31c9a2e0&token=velloa" \
  -DMOD_URL_1="http://localhost:$http_port/mod/fieldwatch" \
  -DMOD_URL_2="https://localhost:$https_port/mod/qvx-8.3.5.zip" \
  -DTEST_HTTP_PORT="$http_port" -DTEST_HTTPS_PORT="$https_port" >/dev/null
cmake --build "$build" -j2 --target ZelkorsModsPackSetup guidriver trust_ca >/dev/null

GUI_BUILD_DIR="$build" TEST_HTTP_PORT="$http_port" TEST_HTTPS_PORT="$https_port" \
  exec python3 scripts/tour.py "$@"
