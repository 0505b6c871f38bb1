# SPDX-License-Identifier: MIT
# Shared by the scripts and the end-to-end tests: a private X display (Xvfb)
# with the trayer notification-area host, torn down when the caller exits.
#
#   . scripts/lib/display.sh
#   start_private_display [WIDTHxHEIGHT]   # sets DISPLAY, ZORVEK_XVFB_PID, ZORVEK_TRAYER_PID
#   stop_private_display

start_private_display() {
    local geometry=${1:-1280x800}
    local fdfile
    fdfile=$(mktemp)
    # -displayfd lets Xvfb pick a free display number and tell us which.
    # -noreset: by default the server resets whenever its last client leaves
    # (a probe with xdotool, a program's display check), and a client that
    # connects during the reset is dropped; a desktop's server never is.
    Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp -noreset -dpi 96 3>"$fdfile" \
        >/dev/null 2>&1 &
    ZORVEK_XVFB_PID=$!
    # Whatever fails from here on, the X server goes when the caller exits.
    trap stop_private_display EXIT
    local i
    for i in $(seq 1 100); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    if [ ! -s "$fdfile" ]; then
        echo "Xvfb did not start" >&2
        rm -f "$fdfile"
        return 1
    fi
    DISPLAY=":$(head -n1 "$fdfile")"
    export DISPLAY
    rm -f "$fdfile"
    unset WAYLAND_DISPLAY
    # A tray host docked at the top right of the screen (ZORVEK_NO_TRAY=1: none).
    [ -n "${ZORVEK_NO_TRAY:-}" ] || start_tray_host
    trap stop_private_display EXIT
}

start_tray_host() {
    # trayer now and then fails to open a display that has only just come up
    # ("cannot open display") and ends at once; it is started again then.
    local attempt i
    for attempt in 1 2 3; do
        trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
            --transparent false --tint 0x333333 --SetDockType true --expand false >/dev/null 2>&1 &
        ZORVEK_TRAYER_PID=$!
        for i in $(seq 1 100); do
            xdotool search --class trayer >/dev/null 2>&1 && return 0
            kill -0 "$ZORVEK_TRAYER_PID" 2>/dev/null || break
            sleep 0.05
        done
        kill "$ZORVEK_TRAYER_PID" 2>/dev/null || true
        sleep 0.2
    done
    echo "trayer did not start" >&2
    return 1
}

stop_private_display() {
    # Either may have ended already (trayer does when the window manager it
    # was docked in goes first); the X server must go all the same.
    [ -z "${ZORVEK_TRAYER_PID:-}" ] || kill "$ZORVEK_TRAYER_PID" 2>/dev/null || true
    [ -z "${ZORVEK_XVFB_PID:-}" ] || kill "$ZORVEK_XVFB_PID" 2>/dev/null || true
    ZORVEK_TRAYER_PID=
    ZORVEK_XVFB_PID=
}

# Writes a PNG of the whole screen.
screenshot() {
    import -display "$DISPLAY" -window root "$1"
}
