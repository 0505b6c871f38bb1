#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# GNOME Shell (X11, on Xvfb) with the AppIndicator extension, which hosts
# StatusNotifierItems in the top bar and draws the menu the item exports. The
# icon shows there; the right click shows 設定 and 終了: 設定 shows the window
# (in the same place each time, after 閉じる hid it), 終了 ends the program and
# takes the icon away; a double click activates the item (a single left
# click opens the menu on this shell), which shows the window.
. "$(dirname "$0")/lib.sh"
ZORVEK_NO_TRAY=1 e2e_prepare "$1" "$2"

# A session of the test's own, where the shell's settings (dconf) say that
# the extension is on, and a stand-in system bus that answers for the
# machine's services the shell asks after (it carries on without them).
start_session_bus
cat >"$E2E_WORK/system-bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$E2E_WORK/system-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
XML
dbus-daemon --config-file="$E2E_WORK/system-bus.conf" --nofork --nopidfile >/dev/null 2>&1 &
E2E_HOST_PIDS=$!
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$E2E_WORK/system-bus"
wait_until '[ -S "$E2E_WORK/system-bus" ]' 10 || fail "the stand-in system bus did not start"
gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
gsettings set org.gnome.shell welcome-dialog-last-shown-version '999'

gnome-shell --x11 --replace --sm-disable >"$E2E_WORK/shell.log" 2>&1 &
E2E_HOST_PIDS+=" $!"
watcher_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher | grep -q true
}
wait_until watcher_up 60 || fail "GNOME Shell's AppIndicator extension did not start"
# The shell starts in its overview, where a window cannot be active and a
# click on one only leaves the overview; Escape leaves it for the desktop,
# whose blue background then shows at the screen's left edge.
on_desktop() {
    import -display "$DISPLAY" -window root -crop 1x1+10+400 +repage -format '%[fx:int(255*b)]' info: |
        awk '{ exit !($1 > 100) }'
}
wait_until 'on_desktop || { xdotool key Escape; sleep 0.5; false; }' 30 || fail "the shell stayed in its overview"

# The top bar is 32 pixels high, and the shell draws the picture scaled, its
# pink a little off.
HOST_BAR=32 HOST_FUZZ=15%

# The shell's menu for the item, drawn below the icon: entry N (1 設定, 2
# 終了) chosen with the pointer, as most users do.
shell_menu() {
    xdotool mousemove "$ix" "$iy" click 3
    sleep 0.6
    xdotool mousemove $((ix - 80)) $((iy + 10 + 37 * $1))
    sleep 0.2
    xdotool click 1
}

# Where the window's inside is on the screen, as the X server says.
window_origin() {
    xwininfo -id "$(main_window)" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        END { if (x == "" || y == "") exit 1; print x, y }'
}
main_window_active() {
    [ "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" = "$(printf 0x%x "$(main_window)")" ]
}

e2e_start_program
expect_icon_in_host "GNOME Shell's top bar"

# 設定 twice, hidden with 閉じる in between: the window comes back where it
# stood (the shell hands a hidden window back higher by its title bar).
first=
for round in 1 2; do
    shell_menu 1
    wait_until main_window_visible 10 || fail "the menu's 設定 did not show the window"
    wait_until main_window_active 10 || fail "the window that 設定 showed is not the active one"
    at=$(window_origin)
    [ -n "$first" ] || first=$at
    [ "$at" = "$first" ] || fail "the window came back at $at, not where it stood ($first)"
    read -r wx wy <<<"$at"
    xdotool mousemove $((wx + 295)) $((wy + 27)) click 1   # 閉じる
    wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
done

# The double click activates the item: the window comes.
xdotool mousemove "$ix" "$iy" click --repeat 2 --delay 80 1
wait_until main_window_visible 10 || fail "a double click on the shell's icon did not show the window"
shell_menu 2
expect_program_ended "the menu's 終了"
wait_until '! icon_spot' 10 || fail "the icon stayed in the shell's top bar after 終了"
[ ! -s "$E2E_WORK/out.log" ] || fail "the program wrote: $(head -n3 "$E2E_WORK/out.log")"
echo "PASS"
