#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A settings file with a damaged count must not make the program probe more
# often than once per unit. The real program, offscreen, with the real
# companion library, runs in a network namespace of its own, whose kernel ICMP
# counters (OutType8 in /proc/net/snmp) count the echo requests it sends.
#
# usage: bad_count_test.sh PROGRAM LIBRARY   (needs root; exits 77 to skip)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "SKIP: a network namespace needs root"; exit 77; }
unshare --net true 2>/dev/null || { echo "SKIP: no network namespaces here"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$2" "$work/"
seconds=3

# Runs the program with the settings line $1 in a folder of its own ($2) in a
# new network namespace and prints how many echo requests it sent up to its
# first one (start-up probes at once) and how many in the $seconds after that.
echo_requests() {
    local dir="$work/$2"
    mkdir "$dir"
    cp "$work/zorvek" "$work/libZorvek.so" "$dir/"
    printf '%s\r\n' "$1" >"$dir/Zorvek.ini"
    unshare --net bash -s "$dir" "$seconds" <<'INNER'
set -euo pipefail
ip link set lo up
sysctl -qw net.ipv4.ping_group_range="0 2147483647"
sent() { awk '/^IcmpMsg:/ { if (!n++) split($0, h); else for (i = 2; i <= NF; i++) if (h[i] == "OutType8") c = $i } END { print c + 0 }' /proc/net/snmp; }
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$1" ASAN_OPTIONS=detect_leaks=0 "$1/zorvek" >"$1/out.log" 2>&1 &
pid=$!
for _ in $(seq 1 300); do [ "$(sent)" -ge 1 ] && break; sleep 0.1; done
first=$(sent)
sleep "$2"
echo "$first $(($(sent) - first))"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER
}

# The count as text, not a number: loading stops part-way with the count at
# zero and the unit at minutes. Zero seconds: the count is read whole. Both
# run at once, each in its own folder and namespace.
lines=('"127.0.0.1","abc","","",1,0,1' '"127.0.0.1","0","","",0,0,1')
for i in "${!lines[@]}"; do echo_requests "${lines[$i]}" "$i" >"$work/result$i" & done
wait
fail=0
for i in "${!lines[@]}"; do
    line=${lines[$i]}
    read -r first n <"$work/result$i"
    echo "$line: $first at start-up, then $n echo requests in $seconds s"
    if [ "$first" -lt 1 ] || [ "$n" -gt $((seconds + 1)) ]; then
        echo "FAIL: expected a start-up probe, then at most one a second"
        fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "PASS"
exit "$fail"
