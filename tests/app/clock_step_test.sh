#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real program, offscreen, under libfaketime: the system clock is set back
# a day while it probes every second, and the probes must go on. The monotonic
# clock is left alone, as a real clock step leaves it. The stand-in library
# prints each call, which counts the probes.
#
# usage: clock_step_test.sh PROGRAM FAKE_LIBRARY
set -euo pipefail
faketime_lib=$(find /usr/lib -name libfaketime.so.1 -path '*faketime*' 2>/dev/null | head -n1)
[ -n "$faketime_lib" ] || { echo "libfaketime is missing (scripts/setup installs it)"; exit 1; }

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cp "$1" "$work/zorvek"
cp "$2" "$work/libZorvek.so"
# Every second, always inside the window, no log, no box.
printf '"fake.example","1","","",0,0,1\r\n' >"$work/Zorvek.ini"
echo "+0" >"$work/faketime"

probes() { grep -c '^PING fake.example$' "$work/out.log" || true; }

LD_PRELOAD="$faketime_lib" FAKETIME_TIMESTAMP_FILE="$work/faketime" FAKETIME_NO_CACHE=1 \
    FAKETIME_DONT_FAKE_MONOTONIC=1 ZORVEK_FAKE_TRACE=1 QT_QPA_PLATFORM=offscreen \
    XDG_RUNTIME_DIR="$work" ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 \
    "$work/zorvek" >"$work/out.log" 2>&1 &
pid=$!
for _ in $(seq 1 300); do [ "$(probes)" -ge 2 ] && break; sleep 0.1; done
before=$(probes)
[ "$before" -ge 2 ] || { echo "FAIL: only $before probes before the step"; cat "$work/out.log"; exit 1; }
echo "-1d" >"$work/faketime"
sleep 3
after=$(($(probes) - before))
echo "probes: $before before, then $after in 3 s after the clock went back a day"
[ "$after" -ge 2 ] || { echo "FAIL: the probes stopped when the clock went back"; exit 1; }
[ "$after" -le 4 ] || { echo "FAIL: more than one probe a second"; exit 1; }
echo "PASS"
