#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The icon on Wayland: sway with waybar as the tray host, driven over D-Bus as
# waybar drives it. A waybar started after the program gets the item within
# a few seconds; the host's Activate shows the window; the exported menu
# lists 設定 and 終了; a restarted waybar gets the item back; the menu's
# 終了 ends the program; and Qt says nothing on standard error.
. "$(dirname "$0")/sway.sh"
sway_prepare "$1" "$2"
start_sway
sway_start_program
wait_until program_on_bus 20 || fail "the program did not come onto the session bus"

# The panel starts after the program, as it does when autostart is quicker.
start_waybar
wait_until program_item 5 || fail "waybar, started after the program, did not get the item"
item=$(program_item)
# A panel that comes more than a few seconds after the program (a loaded
# machine) finds the window already up, as nothing had the icon; sway's
# scratchpad then takes it off the screen, and the item brings it back.
if wayland_window_shown; then
    as_user swaymsg '[title="^Zorvek-自動Pinging$"] move scratchpad' >/dev/null
    wait_until '! wayland_window_shown' 10 || fail "the window did not go to the scratchpad"
fi

bus_call --dest="$item" /StatusNotifierItem org.kde.StatusNotifierItem.Activate int32:0 int32:0 >/dev/null
wait_until wayland_window_shown 10 || fail "Activate did not show the window"

entries=$(menu_entries "$item")
echo "menu: $(echo "$entries" | tr '\n' ' ')"
[ "$(echo "$entries" | cut -d' ' -f2 | tr '\n' ' ')" = "設定 終了 " ] ||
    fail "the exported menu is not 設定, 終了: $entries"

# waybar restarts: a new watcher, which gets the item again.
stop_waybar
start_waybar
wait_until program_item 5 || fail "the restarted waybar did not get the item back"
item=$(program_item)

quit_id=$(menu_entries "$item" | awk '$2 == "終了" { print $1 }')
bus_call --dest="$item" /MenuBar com.canonical.dbusmenu.Event int32:"$quit_id" string:clicked \
    variant:int32:0 uint32:0 >/dev/null
expect_program_ended "the menu's 終了"
expect_quiet
echo "PASS"
