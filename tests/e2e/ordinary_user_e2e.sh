#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The complete program run by an ordinary user where nobody may open an ICMP
# socket (net.ipv4.ping_group_range "1 0", as Debian leaves it), in a network
# namespace of its own: the saved settings probe 127.0.0.1 every second with
# logging and the error box on. The probes go through the system's ping; each
# adds its two lines to the log, and none opens the "Zorvekエラー" box, which
# any code but 0 would.
. "$(dirname "$0")/lib.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: creating a user and a network namespace needs root"
    exit 0
fi
user=zorvek-test
for _ in $(seq 1 20); do
    id -u "$user" >/dev/null 2>&1 && break
    useradd --no-create-home --shell /usr/sbin/nologin --user-group "$user" 2>/dev/null || sleep 0.1
done
id -u "$user" >/dev/null || fail "cannot create the user $user"

e2e_prepare "$1" "$2"
chmod 755 "$E2E_WORK"
printf '"127.0.0.1","1","00:00","00:00",1,1,1\r\n' >"$E2E_WORK/Zorvek.ini"
home="$E2E_WORK/home"
mkdir -m 700 "$home" "$home/xdg"
chown -R "$user:" "$home"
unshare --net -- sh -c '
    ip link set lo up && sysctl -q -w net.ipv4.ping_group_range="1 0" &&
    exec setpriv --reuid="$1" --regid="$1" --clear-groups \
        env HOME="$2" XDG_RUNTIME_DIR="$2/xdg" "$3"' sh "$user" "$home" "$E2E_WORK/zorvek" \
    >"$E2E_WORK/out.log" 2>&1 &
ZORVEK_PID=$!

expect_icon
[ "$(ps -o user= -p "$ZORVEK_PID")" = "$user" ] || fail "the program does not run as $user"
# A probe a second: by now at least three have run, any failure shows a box.
sleep 2.2
message_box_visible && fail "a probe failed (an error box is open)"
show_window_by_click
wait_until '[ "$(log_lines)" -ge 6 ]' 10 || fail "the log holds $(log_lines) lines, not three probes"
message_box_visible && fail "a probe failed (an error box is open)"
echo "log lines: $(log_lines), no error box"
echo "PASS"
