#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without a tray host the program starts anyway, with no box, and its icon is
# embedded as soon as a host appears.
. "$(dirname "$0")/lib.sh"
ZORVEK_NO_TRAY=1 e2e_prepare "$1" "$2"
e2e_start_program
sleep 2
kill -0 "$ZORVEK_PID" || fail "the program ended without a tray host"
message_box_visible && fail "the program complained about the missing tray host"
main_window_visible && fail "start-up showed the window"
start_tray_host
wait_until icon_window 20 || fail "the icon was not embedded once a tray host appeared"
click_icon 1
wait_until main_window_visible 10 || fail "a left click on the late icon did not show the window"
echo "PASS"
