#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without a display the program says so on standard error and ends with
# status 1; it never aborts. Tried with an X display that is not there and
# with a Wayland display that is not there and no X display at all.
#
# usage: no_display_test.sh PROGRAM LIBRARY
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$2" "$work/"
mkdir -m 700 "$work/xdg"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs the program in its folder with the environment given ($@) and checks
# the status and the message; $1 names the variable the message must name.
expect_refusal() {
    local named=$1 status=0
    shift
    (cd "$work" && ulimit -c unlimited &&
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work/xdg" \
            ASAN_OPTIONS=detect_leaks=0 "$@" timeout 20 ./zorvek >"$work/out.log" 2>&1) || status=$?
    [ "$status" -eq 1 ] || fail "status $status with $*: $(cat "$work/out.log")"
    grep -q '^zorvek: ウィンドウを表示できる画面がないため' "$work/out.log" ||
        fail "no message with $*: $(cat "$work/out.log")"
    grep -qF "$named" "$work/out.log" || fail "the message does not name $named: $(cat "$work/out.log")"
    ! grep -q '^QObject\|^qt\.\|Aborted\|core dumped' "$work/out.log" ||
        fail "Qt spoke with $*: $(cat "$work/out.log")"
    [ -z "$(find "$work" -maxdepth 1 -name 'core*' -print -quit)" ] || fail "a core was left with $*"
    [ ! -e "$work/Zorvek.ini" ] || fail "a settings file was written with $*"
}

expect_refusal DISPLAY=:99999 DISPLAY=:99999
expect_refusal WAYLAND_DISPLAY=nonexistent WAYLAND_DISPLAY=nonexistent
echo "PASS"
