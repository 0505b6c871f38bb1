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
    [ -n "${BENCH_PID:-}" ] && kill "$BENCH_PID" 2>/dev/null
    stop_private_display
    rm -rf "$BENCH_WORK"
}
