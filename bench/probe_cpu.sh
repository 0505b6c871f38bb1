#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CPU time of the program probing 127.0.0.1 every second (interval 1 s, the
# daily window always active, logging on, error box off, window hidden)
# against `ping -n -i 1 127.0.0.1` over the same stretch of time (SECONDS,
# default 60, after a settling pause). Run as root, where the program and
# ping(8) may both open their ICMP sockets. Goal: at most twice ping's time.
#
# The time is the kernel's run time in nanoseconds (/proc/PID/task/*/schedstat,
# summed over the threads); utime+stime of /proc/PID/stat, in clock ticks, is
# printed too, but at 10 ms a tick it cannot resolve ping's few milliseconds.
# The resident sizes at the end are printed as well: on the virtual machines
# measured, a process's CPU time while it sleeps and wakes grows with the
# pages it has mapped, so they explain much of the difference.
#
# Given ANCHOR (bench_tray_anchor), a minimal Qt tray program that calls the
# same Pinging("127.0.0.1") from its own 500 ms timer runs over the same
# stretch too: the least a Qt program probing every second costs, so the
# difference between it and the program is the program's own work.
#
# usage: bench/probe_cpu.sh PATH/TO/zorvek PATH/TO/libZorvek.so [SECONDS [ANCHOR]]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
seconds=${3:-${ZORVEK_CPU_SECONDS:-60}}
bench_prepare "$1" "$2"
printf '"127.0.0.1","1","00:00","00:00",1,0,1\r\n' >"$BENCH_WORK/Zorvek.ini"
"$BENCH_WORK/zorvek" >/dev/null 2>&1 &
BENCH_PID=$!
ping -n -i 1 127.0.0.1 >/dev/null 2>&1 &
ping_pid=$!
anchor_pid=
if [ -n "${4:-}" ]; then
    "$4" --probe "$BENCH_WORK/libZorvek.so" 127.0.0.1 >/dev/null 2>&1 &
    anchor_pid=$!
fi
trap 'kill "$ping_pid" $anchor_pid 2>/dev/null || true; bench_cleanup' EXIT
sleep 3

# Nanoseconds on a CPU, over every thread that is alive now.
run_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

z0=$(run_ns "$BENCH_PID") p0=$(run_ns "$ping_pid") a0=0
[ -z "$anchor_pid" ] || a0=$(run_ns "$anchor_pid")
zt0=$(ticks "$BENCH_PID") pt0=$(ticks "$ping_pid")
sleep "$seconds"
z1=$(run_ns "$BENCH_PID") p1=$(run_ns "$ping_pid") a1=0
[ -z "$anchor_pid" ] || a1=$(run_ns "$anchor_pid")
zt1=$(ticks "$BENCH_PID") pt1=$(ticks "$ping_pid")
kill -0 "$BENCH_PID" && kill -0 "$ping_pid"
[ -z "$anchor_pid" ] || kill -0 "$anchor_pid"
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
echo "resident at the end: zorvek $(rss_mb "$BENCH_PID") MB, ping $(rss_mb "$ping_pid") MB"
awk -v z="$((z1 - z0))" -v p="$((p1 - p0))" -v zt="$((zt1 - zt0))" -v pt="$((pt1 - pt0))" \
    -v a="$((a1 - a0))" -v s="$seconds" -v hz="$(getconf CLK_TCK)" 'BEGIN {
    printf "probe CPU over %d s: zorvek %.1f ms (%d ticks of 1/%d s), ping %.1f ms (%d ticks)\n",
           s, z / 1e6, zt, hz, p / 1e6, pt
    if (a > 0 && p > 0)
        printf "minimal Qt tray program probing likewise: %.1f ms, %.2fx ping\n", a / 1e6, a / p
    printf "figure: CPU probing 127.0.0.1 every second, %d s | zorvek %.1f ms | ping -n -i 1 %.1f ms | ratio %.2fx | goal <= 2.0x\n",
           s, z / 1e6, p / 1e6, (p > 0) ? z / p : 0 }'
