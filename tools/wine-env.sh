# Sourced by the scripts that run Windows programs: a private Wine prefix and
# a virtual display, both torn down by wine_env_stop.
# usage: source tools/wine-env.sh; wine_env_start DIR; ...; wine_env_stop
wine_env_start() {
  export WINEPREFIX="$1"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ -z "${LUMARO_KEEP_DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || break; done
    Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    LUMARO_XVFB_PID=$!
    export DISPLAY=":$n"
  fi
  wineboot -i >/dev/null 2>&1 || true
  wineserver -p 600 >/dev/null 2>&1 || true  # keep one server for the whole run
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${LUMARO_XVFB_PID:-}" ] && kill "$LUMARO_XVFB_PID" 2>/dev/null || true
}
