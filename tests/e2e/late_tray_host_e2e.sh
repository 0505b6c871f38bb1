#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without a tray host the program can still be reached: once no host has come
# within a few seconds the window comes up by itself, with no box. A host that
# appears later gets the icon, and the window is left as the user has it; one
# that restarts gets the icon back.
. "$(dirname "$0")/lib.sh"
ZORVEK_NO_TRAY=1 e2e_prepare "$1" "$2"
e2e_start_program
wait_until main_window_visible 10 || fail "without a tray host the window did not come up"
kill -0 "$ZORVEK_PID" || fail "the program ended without a tray host"
message_box_visible && fail "the program complained about the missing tray host"

start_tray_host
expect_icon "the icon was not embedded once a tray host appeared"
sleep 0.5
main_window_visible || fail "the tray host's arrival hid the window"
[ "$(icon_count)" -eq 1 ] || fail "$(icon_count) icons in the tray"

# A tray host that restarts gets the icon back: embedded in the new one, not
# left on the bare screen where the old one dropped it.
icon_embedded() {
    local icon parent
    icon=$(icon_window) || return 1
    parent=$(xwininfo -id "$icon" -tree | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
    [ -n "$parent" ] && [ "$parent" != "$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')" ]
}
icon_embedded || fail "the icon is not inside the tray host"
kill "$ZORVEK_TRAYER_PID"
wait "$ZORVEK_TRAYER_PID" 2>/dev/null || true
wait_until '! icon_embedded' 10 || fail "the icon stayed embedded in a tray host that ended"
start_tray_host
wait_until icon_embedded 20 || fail "the icon did not come back to a restarted tray host"
[ "$(icon_count)" -eq 1 ] || fail "$(icon_count) icons after the tray host restarted"

# From now on the icon works as usual: hidden with 閉じる, back with a left click.
xdotool mousemove --window "$(main_window)" 295 27 click 1   # 閉じる
wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
show_window_by_click "a left click on the late icon did not show the window"
choose_from_tray_menu 2
expect_program_ended 終了
echo "PASS"
