#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Time from starting the program to its icon being embedded in the tray host,
# on a private Xvfb with trayer; median of N runs (default 15). The program
# starts without a settings file, in a folder of its own.
#
# usage: bench/startup_to_tray.sh PATH/TO/zorvek PATH/TO/libZorvek.so [N]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
runs=${3:-15}
bench_prepare "$1" "$2"
work=$BENCH_WORK
# The tray host's panel gains our icon window as a child when it is embedded.
embedded() { xwininfo -root -tree 2>/dev/null | grep -q '("zorvek" "Zorvek")  22x22'; }
wait_until_embedded() { while ! embedded; do :; done; }
times=()
for ((i = 0; i < runs; i++)); do
    t0=$EPOCHREALTIME
    "$work/zorvek" >/dev/null 2>&1 &
    pid=$!
    wait_until_embedded
    t1=$EPOCHREALTIME
    times+=($(($(micros "$t1") - $(micros "$t0"))))
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    while embedded; do sleep 0.01; done
done
report_times "start to icon in the tray" "target < 150 ms" "${times[@]}"
