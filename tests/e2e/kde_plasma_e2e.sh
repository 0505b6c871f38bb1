#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# KDE Plasma 5's panel (plasmashell on Xvfb, under openbox) with its system
# tray, which hosts StatusNotifierItems and draws the menu the item exports.
# The item is listed by Plasma's watcher and its icon shows in the panel; a
# left click activates it and the window comes; Plasma's right-click menu
# holds 設定, which shows the window, and 終了, which ends the program and
# takes the item out of the watcher's list and the icon out of the panel.
. "$(dirname "$0")/lib.sh"
if ! command -v plasmashell >/dev/null; then
    echo "SKIP: plasmashell is not installed (scripts/setup installs it)"
    exit 77
fi
ZORVEK_NO_TRAY=1 e2e_prepare "$1" "$2"

# A session of the test's own. The system bus is one where nothing listens:
# Plasma's device and power lookups fail quietly, as they do on a machine
# without one.
start_session_bus
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$E2E_WORK/no-system-bus"

# One panel, 28 pixels along the top edge, holding the system tray alone.
cat >"$XDG_CONFIG_HOME/plasma-org.kde.plasma.desktop-appletsrc" <<'INI'
[Containments][1]
formfactor=2
lastScreen=0
location=3
plugin=org.kde.panel

[Containments][1][Applets][2]
plugin=org.kde.plasma.systemtray

[Containments][1][Applets][2][Configuration]
SystrayContainmentId=3

[Containments][1][General]
AppletOrder=2

[Containments][3]
formfactor=2
lastScreen=0
location=3
plugin=org.kde.plasma.private.systemtray
INI
printf '[PlasmaViews][Panel 1][Defaults]\nthickness=28\n' >"$XDG_CONFIG_HOME/plasmashellrc"

has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q true
}
# The items Plasma's watcher lists, one a line.
watcher_items() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems | sed -n 's/^ *string "\(.*\)"$/\1/p'
}
# Whether the watcher answers with an empty list.
no_items() {
    local items
    items=$(watcher_items) && [ -z "$items" ]
}

# Plasma's watcher is a module of the KDE daemon that the session start-up
# loads; here it is loaded by hand. Their temporary files (the daemon's
# settings updates) go into the work folder; Plasma's Qt Quick scene is drawn
# in software, as Xvfb has no GPU.
start_window_manager || fail "openbox did not start"
mkdir "$E2E_WORK/tmp"
TMPDIR="$E2E_WORK/tmp" kded5 >"$E2E_WORK/kded.log" 2>&1 &
E2E_HOST_PIDS=$!
wait_until 'has_owner org.kde.kded5' 30 || fail "the KDE daemon did not start"
dbus-send --session --print-reply --dest=org.kde.kded5 /kded org.kde.kded5.loadModule \
    string:statusnotifierwatcher | grep -q 'boolean true' || fail "the KDE daemon did not load the watcher"
wait_until 'has_owner org.kde.StatusNotifierWatcher' 10 || fail "Plasma's watcher did not come up"
TMPDIR="$E2E_WORK/tmp" QT_QUICK_BACKEND=software QT_XCB_GL_INTEGRATION=none plasmashell --no-respawn \
    >"$E2E_WORK/plasma.log" 2>&1 &
E2E_HOST_PIDS+=" $!"

# Whether the panel is drawn: its light grey strip along the top.
panel_shown() {
    [ "$(import -display "$DISPLAY" -window root -crop 1280x20+0+0 +repage -colorspace gray \
        -format '%[fx:int(100*mean)]' info:)" -gt 80 ]
}
wait_until panel_shown 60 || fail "Plasma's panel did not come"

e2e_start_program
wait_until 'watcher_items | grep -q /StatusNotifierItem' 20 || fail "the item did not register with Plasma's watcher"
expect_icon_in_host "Plasma's panel"
left_click_in_host_shows_window "Plasma's panel"

# The menu Plasma opens below the panel: where it stands, as "x y width
# height" of the light area on the bare (black) screen; fails while there is
# none.
menu_box() {
    import -display "$DISPLAY" -window root -crop 400x200+0+28 +repage "$E2E_WORK/menu.png" || return 1
    convert "$E2E_WORK/menu.png" -colorspace gray -threshold 50% -trim \
        -format '%[fx:page.x] %[fx:page.y+28] %w %h' info: 2>/dev/null |
        awk '$3 > 40 && $4 > 20 { print; ok = 1 } END { exit !ok }'
}
# Plasma's right click opens the program's menu, of two entries one above the
# other: entry N (1 設定, 2 終了) is chosen with the pointer.
plasma_menu() {
    xdotool mousemove "$ix" "$iy" click 3
    wait_until menu_box 10 || fail "Plasma's right click opened no menu"
    sleep 0.2
    local mx my mw mh
    read -r mx my mw mh <<<"$(menu_box)"
    xdotool mousemove $((mx + mw / 2)) $((my + mh * (2 * $1 - 1) / 4))
    sleep 0.2
    xdotool click 1
}
plasma_menu 1
wait_until main_window_visible 10 || fail "the menu's first entry (設定) did not show the window"
plasma_menu 2
expect_program_ended "the menu's second entry (終了)"
wait_until no_items 10 || fail "the item stayed in Plasma's watcher after 終了"
wait_until '! icon_spot' 10 || fail "the icon stayed in Plasma's panel after 終了"
[ ! -s "$E2E_WORK/out.log" ] || fail "the program wrote: $(head -n3 "$E2E_WORK/out.log")"
echo "PASS"
