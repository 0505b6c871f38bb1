#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The complete program as a new user meets it: saved settings probe 127.0.0.1
# every second inside a window that holds every time of day; the icon turns
# active at start-up, the log fills, and quitting from the tray menu removes
# the icon and ends the process.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
printf '"127.0.0.1","1","00:00","00:00",1,0,1\r\n' >"$E2E_WORK/Zorvek.ini"
cp "$E2E_WORK/Zorvek.ini" "$E2E_WORK/ini.before"
e2e_start_program

expect_icon
icon=$(icon_window)
wait_until '[ "$(icon_picture "$icon")" = active ]' 10 || fail "the icon did not turn active"
main_window_visible && fail "start-up showed the window"

show_window_by_click
first=$(log_lines)
[ "$first" -ge 2 ] || fail "the log holds $first lines after start-up"
# Two lines a second: the time stamp and the result line.
sleep 2.2
second=$(log_lines)
echo "log lines: $first, then $second"
[ "$second" -ge $((first + 3)) ] || fail "the log went from $first to $second lines in 2 s"

choose_from_tray_menu 2
expect_program_ended 終了
cmp -s "$E2E_WORK/Zorvek.ini" "$E2E_WORK/ini.before" || fail "quitting changed the settings file"
echo "PASS"
