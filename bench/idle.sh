#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program idling in the tray: window hidden, no host set. Measures the CPU
# time it uses over SECONDS (default 60) after a settling pause, and its
# resident memory. Targets: under 0.1 % of one core, under 35 MB.
#
# usage: bench/idle.sh PATH/TO/zorvek PATH/TO/libZorvek.so [SECONDS]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
seconds=${3:-60}
bench_prepare "$1" "$2"
"$BENCH_WORK/zorvek" >/dev/null 2>&1 &
BENCH_PID=$!
pid=$BENCH_PID
sleep 3

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
c0=$(ticks)
t0=$EPOCHREALTIME
sleep "$seconds"
c1=$(ticks)
t1=$EPOCHREALTIME
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
awk -v c="$((c1 - c0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v rss="$rss" 'BEGIN {
    cpu = c / hz; wall = t1 - t0
    printf "idle: %.2f s of CPU in %.1f s = %.3f %% of one core (target < 0.1 %%); resident %.1f MB (target < 35 MB)\n",
           cpu, wall, 100 * cpu / wall, rss / 1024 }'
