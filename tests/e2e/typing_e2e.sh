#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Typing as a user does it, switching windows in between: type into the host
# field, give the focus to another window and back, type again: both texts
# are kept. Then Paste from the field's context menu (right click) inserts at
# the caret instead of replacing the text. The host is read back from the
# settings file that 設定を保存 writes.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
e2e_start_program
expect_icon

show_window_by_click
win=$(main_window)
sleep 0.3
xdotool type --delay 20 "abc"   # over the selected "localhost"

# Another window takes the focus, then ours gets it back.
xmessage -geometry +0+600 "another window" &
other_pid=$!
trap 'kill $other_pid 2>/dev/null; e2e_cleanup' EXIT
wait_until 'xdotool search --onlyvisible --class xmessage' 10 || fail "no other window"
other=$(xsearch --onlyvisible --class xmessage | head -n1)
xdotool windowfocus --sync "$other"
sleep 0.5
xdotool windowfocus --sync "$win"
sleep 0.5
xdotool type --delay 20 "def"

# Copy the whole host, put the caret after "abc" and paste from the context menu.
xdotool key ctrl+a ctrl+c End Left Left Left
sleep 0.2
xdotool mousemove --window "$win" 60 45 click 3   # inside the host field
sleep 0.5
xdotool key p   # &Paste
sleep 0.3

xdotool mousemove --window "$win" 295 54 click 1   # 設定を保存
wait_until '[ -f "$E2E_WORK/Zorvek.ini" ]' 10 || fail "the save wrote nothing"
host=$(head -c 100 "$E2E_WORK/Zorvek.ini" | cut -d, -f1)
[ "$host" = '"abcabcdefdef"' ] || fail "saved host $host, expected \"abcabcdefdef\""
echo "PASS"
