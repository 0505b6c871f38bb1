# SPDX-License-Identifier: MIT
# Helpers for the end-to-end tests: each test runs the real program on a
# private X display (Xvfb) with the trayer tray host and drives it with xdotool
# as a user would. Usage: . lib.sh; e2e_start PROGRAM LIBRARY
set -euo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../scripts/lib/display.sh
. "$E2E_DIR/../../scripts/lib/display.sh"

fail() {
    echo "FAIL: $*" >&2
    # What the program said, and a picture of the screen; the work folder is
    # kept so that the picture can be looked at.
    if [ -s "${E2E_WORK:-}/out.log" ]; then
        echo "program output (last 20 lines):" >&2
        tail -n 20 "$E2E_WORK/out.log" >&2
    fi
    if [ -n "${DISPLAY:-}" ] && [ -n "${E2E_WORK:-}" ] &&
        timeout 5 import -display "$DISPLAY" -window root "$E2E_WORK/failure.png" 2>/dev/null; then
        echo "screen: $E2E_WORK/failure.png" >&2
    fi
    E2E_KEEP=1
    exit 1
}

# Waits up to $2 seconds (default 10) for the command in $1 to succeed. The
# bound is on the clock, so a check that itself takes a while (several calls
# over D-Bus) does not stretch it.
wait_until() {
    local what=$1 seconds=${2:-10}
    local deadline=$((SECONDS + seconds))
    while :; do
        if eval "$what" >/dev/null 2>&1; then return 0; fi
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# A private folder holding a copy of the program and its library, so the
# settings file beside the executable is the test's own.
e2e_prepare() {
    E2E_WORK=$(mktemp -d)
    cp "$1" "$E2E_WORK/zorvek"
    cp "$2" "$E2E_WORK/"
    export XDG_RUNTIME_DIR="$E2E_WORK/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export ASAN_OPTIONS=detect_leaks=0
    # No session bus unless the test makes its own: neither the caller's (a
    # developer's desktop, whose panel would take the icon) nor one that
    # libdbus starts through the X display where dbus-x11 is installed, so a
    # test meets the same program whatever else the machine has.
    [ -n "${ZORVEK_OWN_SESSION_BUS:-}" ] || export DBUS_SESSION_BUS_ADDRESS=disabled:
    start_private_display
    trap 'e2e_cleanup' EXIT
}

e2e_cleanup() {
    [ -n "${ZORVEK_PID:-}" ] && kill "$ZORVEK_PID" 2>/dev/null || true
    [ -n "${E2E_WM_PID:-}" ] && kill "$E2E_WM_PID" 2>/dev/null || true
    [ -z "${E2E_BUS_PID:-}" ] || end_session_bus
    stop_private_display
    [ -n "${E2E_KEEP:-}" ] || rm -rf "$E2E_WORK"
}

# A desktop's session of the test's own: a home in the work folder (HOME and
# the XDG folders, where the desktop's services keep their settings) and a
# session bus, on which those services start as they are asked for.
start_session_bus() {
    export HOME="$E2E_WORK/home" XDG_CONFIG_HOME="$E2E_WORK/home/.config"
    export XDG_CACHE_HOME="$E2E_WORK/home/.cache" XDG_DATA_HOME="$E2E_WORK/home/.local/share"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$E2E_WORK/bus" >/dev/null 2>&1 &
    E2E_BUS_PID=$!
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$E2E_WORK/bus"
    wait_until '[ -S "$E2E_WORK/bus" ]' 10 || fail "the session bus did not start"
}

# The processes connected to the test's session bus, one a line.
bus_processes() {
    local name
    for name in $(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.ListNames | sed -n 's/^ *string "\(:[^"]*\)"$/\1/p'); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
            sed -n 's/^ *uint32 //p'
    done
}

# Ends the session: every process on the bus (the desktop's and the services
# the bus started for it) and those named in E2E_HOST_PIDS, each waited for,
# since they write their settings into the work folder as they end; then the
# bus itself.
end_session_bus() {
    local pids pid
    pids="${E2E_HOST_PIDS:-} $(bus_processes 2>/dev/null)" || true
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do
        wait_until "! kill -0 $pid" 10 || kill -KILL "$pid" 2>/dev/null || true
    done
    kill "$E2E_BUS_PID" 2>/dev/null || true
}

e2e_start_program() {
    "$E2E_WORK/zorvek" >"$E2E_WORK/out.log" 2>&1 &
    ZORVEK_PID=$!
}

# The icon's window: one of the program's windows that is tray-icon sized.
icon_window() {
    local w geo try
    # The icon may be between trays (one restarting), so it is looked for
    # again a few times.
    for try in 1 2 3 4 5; do
        for w in $(xsearch --class zorvek); do
            geo=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: //p')
            [ -n "$geo" ] && [ "${geo%x*}" -le 32 ] && [ "${geo#*x}" -le 32 ] && { echo "$w"; return 0; }
        done
        [ "$try" = 5 ] || sleep 0.1
    done
    return 1
}

# How many tray-icon sized windows of ours there are.
icon_count() {
    local w geo n=0
    for w in $(xsearch --class zorvek); do
        geo=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: //p')
        [ -n "$geo" ] && [ "${geo%x*}" -le 32 ] && [ "${geo#*x}" -le 32 ] && n=$((n + 1))
    done
    echo "$n"
}

# A real window manager (openbox) on the test's display, with nothing
# configured but "show desktop" on Super+D and no animation of minimising.
start_window_manager() {
    cat >"$E2E_WORK/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><animateIconify>no</animateIconify></theme>
  <keyboard><keybind key="W-d"><action name="ToggleShowDesktop"/></keybind></keyboard>
</openbox_config>
XML
    openbox --sm-disable --config-file "$E2E_WORK/openbox.xml" >/dev/null 2>&1 &
    E2E_WM_PID=$!
    wait_until 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' 10
}

# xdotool search, made again when it failed on a window that went away while
# it looked (an X error: a tooltip's, a menu's); prints what it found, and
# succeeds also where it found nothing.
xsearch() {
    local out try
    for try in 1 2 3 4 5; do
        out=$(xdotool search "$@" 2>"$E2E_WORK/xsearch.err") || true
        grep -q "X Error" "$E2E_WORK/xsearch.err" || break
    done
    [ -z "$out" ] || echo "$out"
}

main_window() { xsearch --onlyvisible --name '^Zorvek-自動Pinging$' | head -n1; }

# Waits for the icon to be embedded in the tray host; $1 says what failed.
expect_icon() { wait_until icon_window 20 || fail "${1:-the icon was not embedded in the tray}"; }

# A left click on the icon, then waits for the window; $1 says what failed.
show_window_by_click() {
    click_icon 1
    wait_until main_window_visible 10 || fail "${1:-a left click did not show the window}"
}

main_window_visible() { [ -n "$(main_window)" ]; }
message_box_visible() { [ -n "$(xsearch --onlyvisible --name '^Zorvek(エラー)?$')" ]; }

# Which picture the icon shows: "active" (mostly pink) or "normal" (mostly black).
icon_picture() {
    local icon=$1 pink black
    import -display "$DISPLAY" -window "$icon" "$E2E_WORK/icon.png"
    pink=$(convert "$E2E_WORK/icon.png" -fill white +opaque '#FF00CC' -fill black -opaque '#FF00CC' \
        -format '%[fx:int(w*h*(1-mean)+0.5)]' info:)
    black=$(convert "$E2E_WORK/icon.png" -fill white +opaque '#000000' \
        -format '%[fx:int(w*h*(1-mean)+0.5)]' info:)
    if [ "$pink" -gt "$black" ]; then echo active; else echo normal; fi
}

# Counts the text lines shown in the log list (rows of dark pixels, grouped).
log_lines() {
    local win
    win=$(main_window)
    import -display "$DISPLAY" -window "$win" "$E2E_WORK/window.png"
    # The list's inside, in window pixels: x 16..354, y 157..352.
    convert "$E2E_WORK/window.png" -crop 338x195+16+157 +repage -colorspace gray -threshold 50% \
        -negate -scale '1x!' -threshold 0 txt:- |
        awk 'NR > 1 { dark = ($0 ~ /white|#FFFFFF|gray\(255\)/); if (dark && !prev) n++; prev = dark } END { print n + 0 }'
}

# Where the icon is in a host's bar along the top of the screen (HOST_BAR
# pixels high, 28 unless set): the middle of its pink (#FF00CC) pixels, as
# "x y" in screen pixels, matched within HOST_FUZZ where the host scales the
# picture; fails while there are none.
icon_spot() {
    import -display "$DISPLAY" -window root -crop "1280x${HOST_BAR:-28}+0+0" +repage "$E2E_WORK/bar.png" ||
        return 1
    convert "$E2E_WORK/bar.png" -fuzz "${HOST_FUZZ:-0}" -fill black +opaque '#FF00CC' \
        -fill white -opaque '#FF00CC' -trim -format '%[fx:page.x+w/2] %[fx:page.y+h/2] %w' info: 2>/dev/null |
        awk '$3 > 1 && $3 < 40 { printf "%d %d\n", $1, $2; ok = 1 } END { exit !ok }'
}

# For hosts that draw the items themselves (a panel's StatusNotifierItems):
# waits for the icon in HOST (icon_spot finds it on the screen,
# as "x y"), checks that it is not an XEmbed icon and that start-up showed no
# window, and sets ix and iy to the icon's middle.
expect_icon_in_host() {
    local spot
    wait_until icon_spot 30 || fail "no icon in $1"
    icon_window && fail "the icon went into an XEmbed tray, not $1's item list"
    spot=$(icon_spot) || fail "the icon left $1"
    read -r ix iy <<<"$spot"
    main_window_visible && fail "start-up showed the window"
    return 0
}

# The host's left click on the icon at ix, iy activates the item: the window
# comes; 閉じる hides it again.
left_click_in_host_shows_window() {
    xdotool mousemove "$ix" "$iy" click 1
    wait_until main_window_visible 10 || fail "a left click on $1's icon did not show the window"
    xdotool mousemove --window "$(main_window)" 295 27 click 1   # 閉じる
    wait_until '! main_window_visible' 10 || fail "閉じる did not hide the window"
}

# Clicks button N on the tray icon. A click within the double-click time
# (Qt's 400 ms, as the X server stamps the clicks) and distance (5 pixels) of
# the one before with the same button is the second half of a double click,
# which the program leaves alone (a right one opens no menu). Clicks a user
# means apart are apart: each click of a button lands 8 pixels from that
# button's click before, and half a second after it.
click_icon() {
    local icon last rest spot
    icon=$(icon_window) || fail "no tray icon"
    last=E2E_CLICKED_$1
    spot=7
    if [ -n "${!last:-}" ]; then
        rest=$((500000 - ${EPOCHREALTIME/./} + ${!last%:*}))
        [ "$rest" -le 0 ] || sleep "0.$(printf %06d "$rest")"
        [ "${!last#*:}" = 15 ] || spot=15
    fi
    xdotool mousemove --window "$icon" "$spot" "$spot" click "$1"
    printf -v "$last" %s "${EPOCHREALTIME/./}:$spot"
}

# Opens the icon's menu with a right click and waits until it is up.
open_tray_menu() {
    E2E_WINDOWS_BEFORE_MENU=$(xsearch --onlyvisible --class zorvek | tr '\n' ' ')
    click_icon 3
    wait_until 'tray_menu_window >/dev/null' 10 || fail "the right click did not open the menu"
}

# The menu's window: a popup of the program's (an override-redirect window,
# not a tooltip) that was not there before the right click.
tray_menu_window() {
    local w
    for w in $(xsearch --onlyvisible --class zorvek); do
        case " $E2E_WINDOWS_BEFORE_MENU " in *" $w "*) continue ;; esac
        xwininfo -id "$w" 2>/dev/null | grep -q "Override Redirect State: yes" || continue
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q TOOLTIP && continue
        echo "$w"
        return 0
    done
    return 1
}

# Chooses entry N (1 "設定", 2 "終了") of the tray icon's menu with the keyboard.
choose_from_tray_menu() {
    xdotool mousemove 600 600
    open_tray_menu
    local keys=()
    for _ in $(seq 1 "$1"); do keys+=(Down); done
    xdotool key --clearmodifiers "${keys[@]}" Return
}

# Waits for the program to end after a quit and checks its exit status is 0
# and that its icon is gone with it.
expect_program_ended() {
    wait_until '! kill -0 $ZORVEK_PID' 10 || fail "$1 did not end the program"
    local status=0
    wait "$ZORVEK_PID" || status=$?
    ZORVEK_PID=
    [ "$status" -eq 0 ] || fail "exit status $status after $1"
    icon_window && fail "the icon outlived the program"
    return 0
}
