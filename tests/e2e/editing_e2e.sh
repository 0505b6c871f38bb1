#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Editing as a new user does it: open the window from the tray, type a host,
# Tab through the fields typing bad values and answering each box with
# Return, save, quit, start again: the saved values are back.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
e2e_start_program
expect_icon

show_window_by_click
win=$(main_window)

type_keys() { xdotool type --delay 20 "$1"; }
# Answers the one box the last step should have raised, and checks that no
# second box follows it.
answer_box() {
    wait_until message_box_visible 10 || fail "no box for $1"
    sleep 0.2
    xdotool key Return
    wait_until '! message_box_visible' 10 || fail "the box for $1 did not close"
    sleep 0.5
    message_box_visible && fail "a second box followed the one for $1"
    return 0
}

sleep 0.3
type_keys "127.0.0.1"   # the window opens in the host field with its text selected
xdotool key Tab
type_keys "abc"
xdotool key Tab
answer_box "the interval"
type_keys "5"          # the field took the focus back with "1" selected
xdotool key Tab        # to the unit buttons
xdotool key Right      # seconds
xdotool key Tab
type_keys "7:5"
xdotool key Tab
type_keys "25:00"
xdotool key Tab
answer_box "the end time"
type_keys "9:30"
xdotool key Tab Tab space   # past Check2 to Check1: log on
sleep 0.3
xdotool mousemove --window "$win" 295 54 click 1   # 設定を保存
expected=$(printf '"127.0.0.1","5","07:05","09:30",1,0,1\r\n')
wait_until '[ "$(cat "$E2E_WORK/Zorvek.ini" 2>/dev/null)" = "$expected" ]' 10 ||
    fail "saved: $(od -c "$E2E_WORK/Zorvek.ini" 2>/dev/null | head -n3)"
cp "$E2E_WORK/Zorvek.ini" "$E2E_WORK/ini.saved"

xdotool mousemove --window "$win" 295 132 click 1   # Zorvek終了
expect_program_ended Zorvek終了

# Start again; open the saved settings from the tray menu and save them as
# they are: the file comes out the same, so every value was back.
rm "$E2E_WORK/Zorvek.ini"
cp "$E2E_WORK/ini.saved" "$E2E_WORK/Zorvek.ini"
e2e_start_program
expect_icon "the icon was not embedded after the restart"
choose_from_tray_menu 1
wait_until main_window_visible 10 || fail "設定 did not open the window"
win=$(main_window)
rm "$E2E_WORK/Zorvek.ini"
xdotool mousemove --window "$win" 295 54 click 1   # 設定を保存
wait_until '[ -f "$E2E_WORK/Zorvek.ini" ]' 10 || fail "the second save wrote nothing"
cmp "$E2E_WORK/Zorvek.ini" "$E2E_WORK/ini.saved" || fail "the settings did not come back: $(cat "$E2E_WORK/Zorvek.ini")"
echo "PASS"
