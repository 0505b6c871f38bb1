#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An error box left open holds nothing up: with the window hidden, a probe of
# an invalid host every second opens "Zorvekエラー"; while it stays open a
# left click on the icon shows the window, the log keeps growing with one box
# only, and "終了" from the icon's menu ends the program at once, icon and all.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
printf '"bad host","1","00:00","00:00",1,1,1\r\n' >"$E2E_WORK/Zorvek.ini"
e2e_start_program
expect_icon
wait_until message_box_visible 10 || fail "the failed probe opened no box"

show_window_by_click "a left click did not show the window behind the box"
first=$(log_lines)
sleep 2.2
second=$(log_lines)
echo "log lines while the box is open: $first, then $second"
[ "$second" -ge $((first + 3)) ] || fail "the log went from $first to $second lines in 2 s"
boxes=$(xsearch --onlyvisible --name '^Zorvekエラー$' | wc -l)
[ "$boxes" -eq 1 ] || fail "$boxes error boxes open"

choose_from_tray_menu 2
expect_program_ended "終了 with the box open"
echo "PASS"
