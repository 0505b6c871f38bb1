#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The notification-area icon as a user meets it: embedded in the tray host,
# a left click shows the window, a right click opens the menu at the pointer
# with "設定" then "終了" and leaves a hidden window hidden.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
e2e_start_program

expect_icon
icon=$(icon_window)
# The icon sits inside the tray host's area at the top right of the screen.
eval "$(xdotool getwindowgeometry --shell "$icon")"
[ "$Y" -lt 24 ] && [ "$X" -ge 1160 ] || fail "icon at $X,$Y, outside the tray"
[ "$(icon_picture "$icon")" = normal ] || fail "start-up without settings should show the normal picture"
main_window_visible && fail "start-up showed the window"

# Hovering shows the caption as the tip: a small window of ours appears.
before=$(xsearch --onlyvisible --class zorvek | wc -l)
xdotool mousemove --window "$icon" 11 11
wait_until '[ "$(xsearch --onlyvisible --class zorvek | wc -l)" -gt "$before" ]' 10 ||
    fail "no tooltip over the icon"
xdotool mousemove 600 600
sleep 0.3

# Right click: the menu opens at the pointer; the window stays hidden.
open_tray_menu
menu=$(tray_menu_window) || fail "the menu went before a key was pressed"
eval "$(xdotool getwindowgeometry --shell "$menu")"
[ "$X" -ge 1000 ] && [ "$Y" -lt 80 ] || fail "menu at $X,$Y, not at the pointer"
main_window_visible && fail "the right click showed the window"
# The first entry is "設定": it opens the window with the (empty) saved settings.
xdotool key --clearmodifiers Down Return
wait_until main_window_visible 10 || fail "the first menu entry did not open the settings"

# Hide with the window's own button, then a left click shows it again.
win=$(main_window)
xdotool mousemove --window "$win" 295 27 click 1   # 閉じる
wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
show_window_by_click

# The second entry is "終了": the icon goes and the program ends with status 0.
choose_from_tray_menu 2
expect_program_ended 終了
echo "PASS"
