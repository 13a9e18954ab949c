#!/usr/bin/env bash
# Start-up to the first paint: the median wall time of 40 starts of the program's main window and
# of a bare QMainWindow with a menu bar, taken in turns in the same run, on a free Xvfb display,
# with a JACK server (dummy driver, 1024 frames at 48 kHz, a name of this run's own) up, as in a
# studio.
# Usage: bench/ui/startup.sh PATH/TO/startup_probe [RUNS]
set -euo pipefail
probe=${1:?usage: startup.sh startup_probe [runs]}
runs=${2:-40}
work=$(mktemp -d)
jack_name="kelvane-bench-startup-$$"
xvfb= jackd_pid=
cleanup() {
  [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null && wait "$jackd_pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work" /dev/shm/jack_"$jack_name"_* /dev/shm/jack_sem.*_"$jack_name"_* 2>/dev/null || true
}
trap cleanup EXIT

# -displayfd: Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb

jackd --no-realtime --name "$jack_name" -d dummy --rate 48000 --period 1024 --capture 0 --playback 0 \
  >/dev/null 2>&1 &
jackd_pid=$!
for _ in $(seq 100); do [ "$(jack_wait -s "$jack_name" -c 2>/dev/null)" = running ] && break; sleep 0.1; done
export JACK_DEFAULT_SERVER=$jack_name

# A private settings file, so that the probe never touches the user's own.
export XDG_CONFIG_HOME="$work/config"

# The probe prints the milliseconds from this launch to its first paint.
ms() { KELVANE_PROBE_LAUNCHED=$EPOCHREALTIME "$@" 2>/dev/null; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for _ in 1 2 3; do "$probe" >/dev/null 2>&1; KELVANE_BARE=1 "$probe" >/dev/null 2>&1; done  # warm the caches
: >"$work/bare"; : >"$work/form"
for _ in $(seq "$runs"); do
  KELVANE_BARE=1 ms "$probe" >>"$work/bare"
  ms "$probe" >>"$work/form"
done
bare=$(median <"$work/bare"); form=$(median <"$work/form")
# The machine's speed drifts during a run; each start is compared with the bare start just
# before it, and the middle of those ratios is the figure.
ratio=$(paste "$work/form" "$work/bare" | awk '{printf "%.4f\n", $1 / $2}' | median)
printf 'to first paint, median of %s: bare QMainWindow with menu bar %s ms, Kelvane %s ms, ratio %.2f\n' \
  "$runs" "$bare" "$form" "$ratio"
