#!/usr/bin/env bash
# Runs jack_freeze_probe against a JACK server of its own (dummy driver), which the probe
# suspends and resumes. Usage: bench/ui/jack-freeze.sh PATH/TO/jack_freeze_probe [RUNS] [attempts]
# ("attempts": only the 20 listings and opens, not the closes before them).
set -euo pipefail
# In a /dev/shm of its own, like the JACK tests: the machine's JACK registry may be full.
if [ -z "${KELVANE_FREEZE_ISOLATED:-}" ]; then
  export KELVANE_FREEZE_ISOLATED=1
  exec "$(dirname "$0")/../../tests/fixtures/jack-isolated" --new "$0" "$@"
fi
probe=${1:?path to jack_freeze_probe}
runs=${2:-3}
name=kelvane-freeze-$$
jackd --no-realtime --name "$name" -d dummy --rate 48000 --period 1024 --capture 0 --playback 0 \
  </dev/null >/dev/null 2>&1 &
server=$!
trap 'kill -CONT $server 2>/dev/null; kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ "$(jack_wait -s "$name" -c 2>/dev/null)" = running ] && break
  sleep 0.05
done
for _ in $(seq "$runs"); do
  JACK_DEFAULT_SERVER=$name QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    XDG_CONFIG_HOME=$(mktemp -d) "$probe" "$server" ${3:-}
done
