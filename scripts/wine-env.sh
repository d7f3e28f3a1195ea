# Sourced by the scripts: a private Wine prefix and a Japanese locale.
# Usage: . scripts/wine-env.sh PREFIX_DIR
export WINEPREFIX="$1"
export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

# Creates the prefix on first use, with a virtual desktop so that windows get title
# bars (there is no window manager under Xvfb) and every process of the prefix,
# installer and test driver alike, shares the one desktop.
wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready"
  fi
  # A persistent server for the whole run; "-p" fails when one is already up, which
  # is just as good. Started with stdio detached, or services would keep a caller's
  # pipe open.
  wineserver -p 2>/dev/null || true
  wine wineboot </dev/null >/dev/null 2>&1 || true
}

# Starts Xvfb on a free display and exports DISPLAY; xvfb_stop ends it.
xvfb_start() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
  echo "Xvfb did not start" >&2
  return 1
}
xvfb_stop() { [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null; wait "${XVFB_PID:-}" 2>/dev/null || true; }
