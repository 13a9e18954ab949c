#!/usr/bin/env bash
# kelvane-cli list and export against cli_baseline on the full-store dump (1000 messages of
# 65,535 stored bytes, 65,536,000 bytes), as whole-process wall times, side by side in one run.
#
#   bench/cli/compare.sh BUILD_DIR [RUNS]
#
# BUILD_DIR is a build configured with -DKELVANE_BENCH=ON in which kelvane-cli and cli_baseline
# are built. Each program runs once to warm the page cache, then RUNS times (default 9) in
# turns; the medians and the ratio are printed. The outputs are compared as well, so a fast
# wrong answer cannot pass. KELVANE_BENCH_DIR sets where the files go (default: a temp folder).
set -euo pipefail
build=${1:?usage: compare.sh BUILD_DIR [RUNS]}
runs=${2:-9}
cli=$build/src/cli/kelvane-cli
baseline=$build/bench/cli/cli_baseline
for program in "$cli" "$baseline"; do
  [ -x "$program" ] || { echo "compare.sh: $program is not built" >&2; exit 2; }
done

work=$(mktemp -d "${KELVANE_BENCH_DIR:-${TMPDIR:-/tmp}}/kelvane-cli-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
dump=$work/full.syx
python3 - "$dump" <<'PY'
import sys
# F0, 65,534 data bytes counting up from the message number (7-bit), F7: stored length 65,535.
with open(sys.argv[1], "wb") as out:
    ramp = bytes(i & 0x7F for i in range(65534 + 128))
    for k in range(1000):
        out.write(b"\xF0" + ramp[k % 128:k % 128 + 65534] + b"\xF7")
PY

# Runs one of the four commands with its standard output in $work/<name>.out and prints its
# wall time in microseconds.
run_us() {
  local start end
  start=$(date +%s%N)
  case $1 in
    cli_list) "$cli" list "$dump" ;;
    base_list) "$baseline" list "$dump" ;;
    cli_export) "$cli" export "$dump" "$work/cli.mid" ;;
    base_export) "$baseline" export "$dump" "$work/base.mid" ;;
  esac >"$work/$1.out"
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A times
names=(cli_list base_list cli_export base_export)
for name in "${names[@]}"; do run_us "$name" >/dev/null; done
cmp -s "$work/cli_list.out" "$work/base_list.out" || { echo "compare.sh: the list outputs differ" >&2; exit 1; }
cmp -s "$work/cli.mid" "$work/base.mid" || { echo "compare.sh: the exported files differ" >&2; exit 1; }

for ((i = 0; i < runs; i++)); do
  for name in "${names[@]}"; do times[$name]+="$(run_us "$name") "; done
done

echo "full-store dump: $(stat -c %s "$dump") bytes; SMF: $(stat -c %s "$work/cli.mid") bytes; $runs runs each"
printf '%-8s %14s %14s %7s\n' command kelvane-cli baseline ratio
for command in list export; do
  c=$(tr ' ' '\n' <<<"${times[cli_$command]}" | grep . | median)
  b=$(tr ' ' '\n' <<<"${times[base_$command]}" | grep . | median)
  awk -v n="$command" -v c="$c" -v b="$b" \
    'BEGIN { printf "%-8s %12.3f s %12.3f s %6.2fx\n", n, c / 1e6, b / 1e6, c / b }'
done
