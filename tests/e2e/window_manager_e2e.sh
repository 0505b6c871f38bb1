#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Under a real window manager (openbox) the window offers the close command
# but neither minimise nor maximise, and the icon brings it back from wherever
# the window manager has put it: minimised (by a window manager that started
# after the window was shown, so it still allows that) or hidden by "show
# desktop".
. "$(dirname "$0")/lib.sh"
# True when the window manager has made our window the active one.
main_window_active() {
    [ "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" = "$(printf 0x%x "$(main_window)")" ]
}
e2e_prepare "$1" "$2"
e2e_start_program
expect_icon
show_window_by_click
win=$(main_window)

# The window manager comes after the window: minimised, then a left click.
start_window_manager || fail "openbox did not start"
wait_until 'xprop -id $win _NET_WM_ALLOWED_ACTIONS | grep -q MINIMIZE' 10 ||
    fail "openbox does not manage the window"
xdotool windowminimize "$win"
wait_until '! main_window_visible' 10 || fail "the window could not be minimised to begin with"
show_window_by_click "a left click did not bring the minimised window back"
wait_until main_window_active 10 || fail "the window came back inactive"

# Shown anew, the window offers the close command only.
xdotool mousemove --window "$win" 295 27 click 1   # 閉じる
wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
show_window_by_click
actions=$(xprop -id "$win" _NET_WM_ALLOWED_ACTIONS)
echo "$actions"
case "$actions" in *_NET_WM_ACTION_CLOSE*) ;; *) fail "no close command" ;; esac
case "$actions" in *MINIMIZE* | *MAXIMIZE*) fail "minimise or maximise offered" ;; esac
xdotool windowminimize "$win"
sleep 0.5
main_window_visible || fail "the window was minimised after all"

# "Show desktop" takes every window away; the icon and 設定 bring it back, active.
for way in icon menu; do
    xdotool key --clearmodifiers super+d
    wait_until '! main_window_visible' 10 || fail "show desktop left the window"
    if [ "$way" = icon ]; then click_icon 1; else choose_from_tray_menu 1; fi
    wait_until main_window_visible 10 || fail "the $way did not bring the window back"
    wait_until main_window_active 10 || fail "the $way did not activate the window"
done

choose_from_tray_menu 2
expect_program_ended 終了
echo "PASS"
