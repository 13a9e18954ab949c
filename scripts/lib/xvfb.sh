# Sourced by the scripts that show a window. Starts Xvfb on a display number it picks itself
# (-displayfd), so two runs side by side or a stale lock file never meet, and returns once the
# server accepts clients: a first start may take seconds while it compiles its keymap.
# Sets XVFB_PID and XVFB_DISPLAY (":N"); further arguments go to Xvfb.
start_xvfb() {
  local answer
  answer=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp "$@" 3>"$answer" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 300); do
    [ -s "$answer" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$answer" ]; then
    rm -f "$answer"
    echo "Xvfb did not start within 30 s" >&2
    return 1
  fi
  XVFB_DISPLAY=":$(head -n 1 "$answer")"
  rm -f "$answer"
}
