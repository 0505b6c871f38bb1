#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wayland without a tray host (sway alone, no XWayland): the window comes up
# by itself, and Qt says nothing on standard error. With the window left on
# workspace 1 and workspace 2 current, a second start brings the window to
# the user: sway either focuses it or marks it urgent. The title bar's close
# command ends the program.
. "$(dirname "$0")/sway.sh"
sway_prepare "$1" "$2"
start_sway
sway_start_program
wait_until wayland_window_shown 20 || fail "without a tray host the window did not come up: $(sway_windows)"
sway_windows

as_user swaymsg workspace 2 >/dev/null
wait_until 'sway_windows | grep -q "^Zorvek-自動Pinging False False 1 "' 10 ||
    fail "the window did not stay unfocused on workspace 1: $(sway_windows)"
status=0
as_user timeout 10 "$E2E_WORK/zorvek" >"$E2E_WORK/second.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the second start ended with status $status: $(cat "$E2E_WORK/second.log")"
wait_until 'sway_windows | grep -q "^Zorvek-自動Pinging \(True [A-Za-z]*\|[A-Za-z]* True\) "' 10 ||
    fail "the second start neither focused the window nor marked it urgent: $(sway_windows)"
sway_windows

as_user swaymsg '[title="^Zorvek-自動Pinging$"] kill' >/dev/null
expect_program_ended "closing the window"
expect_quiet
echo "PASS"
