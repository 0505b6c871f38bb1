#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Whole-process cost of one probe of 127.0.0.1: zorvek-probe against Debian's
# ping(8) (iputils), run alternately N times each, timed with bash's
# $EPOCHREALTIME so no extra process is started per measurement. Prints the
# medians and their ratio; the target is zorvek-probe no slower than ping.
#
# usage: bench/probe_vs_ping.sh PATH/TO/zorvek-probe [N]    (N defaults to 200)
# Exits 1 if the target is missed, 2 on a usage or run error.
set -euo pipefail

probe=${1:-}
runs=${2:-200}
if [[ -z "$probe" || ! -x "$probe" ]]; then
  echo "usage: $0 PATH/TO/zorvek-probe [N]" >&2
  exit 2
fi
ping_cmd=(ping -c 1 -n -W 1 127.0.0.1)
if ! command -v ping >/dev/null; then
  echo "ping(8) not found (Debian package iputils-ping)" >&2
  exit 2
fi

micros() { local t=${1/./}; echo $((10#$t)); }   # "1712345678.123456" -> microseconds

probe_times=()
ping_times=()
for ((i = 0; i < runs; i++)); do
  t0=$EPOCHREALTIME
  "$probe" 127.0.0.1 >/dev/null || { echo "zorvek-probe failed on run $i" >&2; exit 2; }
  t1=$EPOCHREALTIME
  "${ping_cmd[@]}" >/dev/null || { echo "ping failed on run $i" >&2; exit 2; }
  t2=$EPOCHREALTIME
  probe_times+=($(($(micros "$t1") - $(micros "$t0"))))
  ping_times+=($(($(micros "$t2") - $(micros "$t1"))))
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

probe_median=$(median "${probe_times[@]}")
ping_median=$(median "${ping_times[@]}")
awk -v p="$probe_median" -v q="$ping_median" -v n="$runs" 'BEGIN {
  printf "zorvek-probe 127.0.0.1          n=%d  median %8.0f us\n", n, p
  printf "ping -c 1 -n -W 1 127.0.0.1     n=%d  median %8.0f us\n", n, q
  r = p / q
  printf "ratio zorvek-probe / ping: %.2f (target <= 1.00): %s\n", r, (r <= 1.0) ? "within target" : "OVER TARGET"
  exit (r <= 1.0) ? 0 : 1
}'
