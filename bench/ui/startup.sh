#!/usr/bin/env bash
# Median wall time of 20 starts of the main window and of a bare Qt window, side by side, on
# a private Xvfb display.  Usage: bench/ui/startup.sh PATH/TO/startup_probe
set -euo pipefail
probe=${1:?usage: startup.sh startup_probe}
display=:97
Xvfb $display -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
export DISPLAY=$display QT_QPA_PLATFORM=xcb
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
run() {
  for _ in $(seq 20); do
    s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
    echo $(( (e - s) / 1000000 ))
  done | median
}
for _ in 1 2 3; do "$probe" >/dev/null 2>&1; done  # warm the caches
bare=$(KELVANE_BARE=1 run "$probe")
form=$(run "$probe")
echo "bare Qt window: ${bare} ms   Kelvane main window: ${form} ms (median of 20 starts to first expose)"
