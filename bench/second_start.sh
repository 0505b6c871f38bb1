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
report_times "second start handing over" "target < 1000 ms" "${times[@]}"
