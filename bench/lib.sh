# SPDX-License-Identifier: MIT
# Shared by the program's benchmarks: a private folder holding a copy of the
# program and its library (so no settings file of the checkout is used) and a
# private display with the trayer tray host, both removed on exit.
#
#   . bench/lib.sh; bench_prepare PROGRAM LIBRARY   # sets BENCH_WORK, DISPLAY
BENCH_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../scripts/lib/display.sh
. "$BENCH_TOP/scripts/lib/display.sh"

bench_prepare() {
    BENCH_WORK=$(mktemp -d)
    cp "$1" "$2" "$BENCH_WORK/"
    export XDG_RUNTIME_DIR="$BENCH_WORK/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    start_private_display
    trap 'bench_cleanup' EXIT
}

bench_cleanup() {
    [ -n "${BENCH_PID:-}" ] && kill "$BENCH_PID" 2>/dev/null || true
    stop_private_display
    rm -rf "$BENCH_WORK"
}

# Microseconds of an $EPOCHREALTIME reading.
micros() { local t=${1/./}; echo $((10#$t)); }

# Prints "WHAT: median, min, max over N runs (TARGET)" of the microsecond
# times given as arguments, in milliseconds.
report_times() {
    local what=$1 target=$2
    shift 2
    printf '%s\n' "$@" | sort -n | awk -v what="$what" -v target="$target" '
        { v[NR] = $1 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%s: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (%s)\n",
                     what, m / 1000, v[1] / 1000, v[NR] / 1000, NR, target }'
}
