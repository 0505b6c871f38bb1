#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The XFCE panel's notification area on X11, which hosts StatusNotifierItems
# over D-Bus: the icon shows in the panel as such an item (not as an XEmbed
# icon), a left click on it shows the window, and the panel's own right click
# opens the menu the program exports, whose entries are 設定 and then 終了.
. "$(dirname "$0")/lib.sh"
ZORVEK_NO_TRAY=1 e2e_prepare "$1" "$2"

# A session of the test's own; the panel's settings service (xfconfd) starts
# on its bus on demand and reads the panel below from XDG_CONFIG_HOME.
start_session_bus
channels="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$channels"

# One panel along the top edge holding the notification area alone.
cat >"$channels/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
XML
xfce4-panel --disable-wm-check --sm-client-disable >"$E2E_WORK/panel.log" 2>&1 &
E2E_HOST_PIDS=$!
wait_until 'xdotool search --onlyvisible --class xfce4-panel' 20 || fail "the XFCE panel did not start"

e2e_start_program
expect_icon_in_host "the XFCE panel"
left_click_in_host_shows_window "the XFCE panel"

# Whether a menu is open below the panel: on the bare (black) screen there,
# a light area.
menu_shown() {
    [ "$(import -display "$DISPLAY" -window root -crop 300x150+0+30 +repage -colorspace gray \
        -format '%[fx:int(100*mean)]' info:)" -gt 5 ]
}

# The panel's right click opens the program's menu, drawn by the panel: its
# first entry shows the window, its second ends the program.
panel_menu() {
    xdotool mousemove "$ix" "$iy" click 3
    wait_until menu_shown 10 || fail "the panel's right click opened no menu"
    sleep 0.2
    local keys=()
    for _ in $(seq 1 "$1"); do keys+=(Down); done
    xdotool key --clearmodifiers "${keys[@]}" Return
}
panel_menu 1
wait_until main_window_visible 10 || fail "the menu's first entry (設定) did not show the window"
xdotool mousemove --window "$(main_window)" 295 27 click 1   # 閉じる
wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
panel_menu 2
expect_program_ended "the menu's second entry (終了)"
wait_until '! icon_spot' 10 || fail "the icon stayed in the XFCE panel after 終了"
[ ! -s "$E2E_WORK/out.log" ] || fail "the program wrote: $(head -n3 "$E2E_WORK/out.log")"
echo "PASS"
