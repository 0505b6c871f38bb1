#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Time a second start of the same installation takes to hand over to the
# running program (which then shows its window) and end; median of N runs
# (default 15) on a private Xvfb with trayer. The first program runs without a
# settings file, in a folder of its own.
#
# usage: bench/second_start.sh PATH/TO/zorvek PATH/TO/libZorvek.so [N]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
runs=${3:-15}
bench_prepare "$1" "$2"
work=$BENCH_WORK
micros() { local t=${1/./}; echo $((10#$t)); }
"$work/zorvek" >/dev/null 2>&1 &
BENCH_PID=$!
# The first program is up once its socket is there.
while ! ls "$XDG_RUNTIME_DIR"/zorvek-* 2>/dev/null | grep -qv '\.lock$'; do sleep 0.01; done
times=()
for ((i = 0; i < runs; i++)); do
    t0=$EPOCHREALTIME
    "$work/zorvek" >/dev/null 2>&1 || { echo "a second start failed" >&2; exit 1; }
    t1=$EPOCHREALTIME
    times+=($(($(micros "$t1") - $(micros "$t0"))))
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '
    { v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "second start handing over: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (target < 1000 ms)\n",
                 m / 1000, v[1] / 1000, v[NR] / 1000, n }'
