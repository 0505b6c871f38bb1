#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Time from starting the program to its icon being embedded in the tray host,
# on a private Xvfb with trayer, against the same for a minimal Qt tray
# program (bench_tray_anchor); the two start in turn, N rounds (default 15),
# and the medians and their ratio are printed. The program starts without a
# settings file, in a folder of its own.
#
# usage: bench/startup_to_tray.sh PATH/TO/zorvek PATH/TO/libZorvek.so PATH/TO/bench_tray_anchor [N]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
runs=${4:-15}
goal=1.10
bench_prepare "$1" "$2"
work=$BENCH_WORK
cp "$3" "$work/anchor"
# The tray host's panel gains the icon window as a child when it is embedded;
# it carries the program's name and class.
embedded() { xwininfo -root -tree 2>/dev/null | grep -q "(\"$1\" \"[^\"]*\")  22x22"; }
# Microseconds from starting PROGRAM (a name in the work folder) to its icon
# in the tray; the program is ended and its icon gone before it returns.
start_to_tray() {
    local name=$1 t0 t1 pid
    t0=$EPOCHREALTIME
    "$work/$name" >/dev/null 2>&1 &
    pid=$!
    while ! embedded "$name"; do :; done
    t1=$EPOCHREALTIME
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    while embedded "$name"; do sleep 0.01; done
    echo $(($(micros "$t1") - $(micros "$t0")))
}
zorvek=()
anchor=()
for ((i = 0; i < runs; i++)); do
    zorvek+=("$(start_to_tray zorvek)")
    anchor+=("$(start_to_tray anchor)")
done
report_times "start to icon in the tray" "target < 150 ms" "${zorvek[@]}"
report_times "minimal Qt tray program, start to icon" "anchor" "${anchor[@]}"
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
awk -v z="$(median "${zorvek[@]}")" -v a="$(median "${anchor[@]}")" -v goal="$goal" 'BEGIN {
    printf "figure: exec to icon in the tray (median of %d) | zorvek %.1f ms | minimal Qt tray program %.1f ms | ratio %.2fx | goal <= %.2fx\n", '"$runs"', z / 1000, a / 1000, z / a, goal }'
