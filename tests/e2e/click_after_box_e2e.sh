#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A click on a button that leaves an invalid field: the field's box comes
# first, and once it is answered the click is carried out with the field's
# safe text: 設定を保存 saves the count 1, 閉じる hides the window and
# Zorvek終了 ends the program.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
e2e_start_program
expect_icon

show_window_by_click
win=$(main_window)

# Types $2 over the text of the field at window position $1.
type_into() {
    xdotool mousemove --window "$win" $1 click 1
    sleep 0.3
    xdotool key ctrl+a
    xdotool type --delay 20 "$2"
}
answer_box() {
    wait_until message_box_visible 10 || fail "no box for $1"
    sleep 0.2
    xdotool key Return
    wait_until '! message_box_visible' 10 || fail "the box for $1 did not close"
}

type_into "30 101" abc                             # Text1(1), the count
xdotool mousemove --window "$win" 295 54 click 1   # 設定を保存
answer_box "the count"
wait_until '[ "$(cut -d, -f2 "$E2E_WORK/Zorvek.ini" 2>/dev/null)" = "\"1\"" ]' 10 ||
    fail "設定を保存 did not save the count 1: $(cat "$E2E_WORK/Zorvek.ini" 2>/dev/null)"

type_into "165 101" 9                              # Text1(2), the start time
xdotool mousemove --window "$win" 295 28 click 1   # 閉じる
answer_box "the start time"
wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"

show_window_by_click "a left click did not show the window again"
win=$(main_window)
type_into "230 101" 9                              # Text1(3), the end time
xdotool mousemove --window "$win" 295 132 click 1  # Zorvek終了
answer_box "the end time"
expect_program_ended Zorvek終了
echo "PASS"
