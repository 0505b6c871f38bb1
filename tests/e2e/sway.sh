# SPDX-License-Identifier: MIT
# Helpers for the end-to-end tests on Wayland: a headless sway of the test's
# own, with its own runtime folder and session bus, and optionally waybar as
# the tray host (a StatusNotifierWatcher on that bus). sway refuses to run as
# root, so under root the compositor, the panel and the program run as an
# ordinary user made for the tests. Usage: . sway.sh; sway_prepare PROGRAM LIBRARY
# shellcheck source=lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SWAY_USER=zorvek-test

# The words that run a command as the session's user, with the session's
# environment, in USER_RUN (so that "${USER_RUN[@]}" cmd & gives the
# command's own process id).
user_run_words() {
    USER_RUN=(env -u DISPLAY HOME="$SWAY_HOME" XDG_RUNTIME_DIR="$SWAY_RUNTIME"
        XDG_CONFIG_HOME="$SWAY_HOME/.config" DBUS_SESSION_BUS_ADDRESS="unix:path=$SWAY_RUNTIME/bus"
        WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$SWAY_RUNTIME/sway.sock" ASAN_OPTIONS=detect_leaks=0)
    if [ "$(id -u)" -eq 0 ]; then
        USER_RUN=(setpriv --reuid="$SWAY_USER" --regid="$SWAY_USER" --clear-groups "${USER_RUN[@]}")
    fi
}

as_user() { "${USER_RUN[@]}" "$@"; }

# The work folder with the program, a home and a runtime folder of the
# session's user, and that user's session bus. No X display.
sway_prepare() {
    if [ "$(id -u)" -eq 0 ]; then
        for _ in $(seq 1 20); do
            id -u "$SWAY_USER" >/dev/null 2>&1 && break
            useradd --no-create-home --shell /usr/sbin/nologin --user-group "$SWAY_USER" 2>/dev/null ||
                sleep 0.1
        done
        id -u "$SWAY_USER" >/dev/null || fail "cannot create the user $SWAY_USER"
    fi
    E2E_WORK=$(mktemp -d)
    chmod 755 "$E2E_WORK"
    cp "$1" "$E2E_WORK/zorvek"
    cp "$2" "$E2E_WORK/"
    SWAY_HOME="$E2E_WORK/home"
    SWAY_RUNTIME="$SWAY_HOME/xdg"
    mkdir -m 700 "$SWAY_HOME" "$SWAY_RUNTIME"
    [ "$(id -u)" -ne 0 ] || chown -R "$SWAY_USER:" "$SWAY_HOME"
    unset DISPLAY WAYLAND_DISPLAY
    user_run_words
    trap 'sway_cleanup' EXIT
    "${USER_RUN[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$SWAY_RUNTIME/bus" \
        >/dev/null 2>&1 &
    SWAY_BUS_PID=$!
    wait_until '[ -S "$SWAY_RUNTIME/bus" ]' 10 || fail "the session bus did not start"
}

sway_cleanup() {
    local pid
    [ -n "${ZORVEK_PID:-}" ] && kill "$ZORVEK_PID" 2>/dev/null || true
    for pid in ${WAYBAR_PID:-} ${SWAY_PID:-} ${SWAY_BUS_PID:-}; do kill "$pid" 2>/dev/null || true; done
    [ -n "${E2E_KEEP:-}" ] || rm -rf "$E2E_WORK"
}

# A headless sway with one 1280x800 output and no XWayland, so the program
# can only use Wayland. $1 is added to its configuration.
start_sway() {
    cat >"$E2E_WORK/sway.conf" <<CONF
xwayland disable
output HEADLESS-1 resolution 1280x800
${1:-}
CONF
    # The IPC socket at a known place; software rendering on no real output.
    "${USER_RUN[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway --config "$E2E_WORK/sway.conf" >"$E2E_WORK/sway.log" 2>&1 &
    SWAY_PID=$!
    wait_until 'as_user swaymsg -t get_version' 20 || fail "sway did not start"
}

# waybar with only the tray; it runs its own StatusNotifierWatcher.
start_waybar() {
    [ -f "$E2E_WORK/waybar.json" ] || cat >"$E2E_WORK/waybar.json" <<'JSON'
{ "layer": "top", "position": "top", "height": 26, "modules-right": ["tray"],
  "tray": { "icon-size": 21, "spacing": 4 } }
JSON
    : >"$E2E_WORK/waybar.css"
    "${USER_RUN[@]}" waybar --config "$E2E_WORK/waybar.json" --style "$E2E_WORK/waybar.css" \
        >>"$E2E_WORK/waybar.log" 2>&1 &
    WAYBAR_PID=$!
    wait_until 'watcher_owner' 20 || fail "waybar's StatusNotifierWatcher did not appear"
}

stop_waybar() {
    kill "$WAYBAR_PID"
    wait "$WAYBAR_PID" 2>/dev/null || true
    WAYBAR_PID=
}

sway_start_program() {
    "${USER_RUN[@]}" "$E2E_WORK/zorvek" >"$E2E_WORK/out.log" 2>&1 &
    ZORVEK_PID=$!
}

# A call on the session bus; prints the reply.
bus_call() { as_user dbus-send --session --print-reply "$@"; }

# Whether the program is connected to the session bus.
program_on_bus() {
    local name
    for name in $(bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames |
        sed -n 's/^ *string "\(:.*\)"/\1/p'); do
        bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
            string:"$name" | grep -q "uint32 $ZORVEK_PID\$" && return 0
    done
    return 1
}

# The menu's entries as "id label" lines, from the item's dbusmenu layout.
menu_entries() {
    bus_call --dest="$1" /MenuBar com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string: |
        awk '/^ *int32 / { id = $2 } /string "label"/ { getline; if (match($0, /"[^"]*"/))
            print id, substr($0, RSTART + 1, RLENGTH - 2) }'
}

# The unique bus name that holds the StatusNotifierWatcher.
watcher_owner() {
    bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner \
        string:org.kde.StatusNotifierWatcher | sed -n 's/.*string "\(.*\)"/\1/p' | grep .
}

# The items the watcher holds, one a line (bus name, maybe with a path).
registered_items() {
    bus_call --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems | sed -n 's/^ *string "\(.*\)"/\1/p'
}

# The bus name of the program's item, once the watcher holds it.
program_item() { registered_items | sed 's,/.*,,' | grep . | head -n1; }

# The program's windows in sway's tree as "name focused urgent workspace" lines.
sway_windows() {
    as_user swaymsg -t get_tree -r | python3 -c '
import json, sys
def walk(node, ws):
    if node.get("type") == "workspace":
        ws = node.get("name")
    if node.get("pid") is not None and node.get("type") in ("con", "floating_con"):
        print(node.get("name"), node.get("focused"), node.get("urgent"), ws, node.get("visible"))
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child, ws)
walk(json.load(sys.stdin), None)'
}

# Whether the window is on the screen (on a shown workspace, not in the scratchpad).
wayland_window_shown() { sway_windows | grep -q '^Zorvek-自動Pinging .* True$'; }

# Fails when the program said anything (Qt's warnings among it): in normal
# use it writes nothing on standard output or standard error.
expect_quiet() {
    [ ! -s "$E2E_WORK/out.log" ] || fail "the program wrote: $(head -n5 "$E2E_WORK/out.log")"
}
