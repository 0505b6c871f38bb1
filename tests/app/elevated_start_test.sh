#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# zorvek given file capabilities (cap_net_raw, the administrator's usual
# answer to -4) refuses to start before Qt loads anything. An ordinary user
# points QT_PLUGIN_PATH at a style plugin of their own and names it in
# QT_STYLE_OVERRIDE: the copy without capabilities loads the plugin (so the
# attack is real), the same copy with them says why on standard error, ends
# with status 1, and the plugin never runs.
# usage: elevated_start_test.sh PROGRAM PLUGIN   (needs root; exits 77 to skip)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "SKIP: setcap and a second user need root"; exit 77; }
user=zorvek-test
for _ in $(seq 1 20); do
    id -u "$user" >/dev/null 2>&1 && break
    useradd --no-create-home --shell /usr/sbin/nologin --user-group "$user" 2>/dev/null || sleep 0.1
done
id -u "$user" >/dev/null || { echo "FAIL: cannot create the user $user"; exit 1; }

work=$(mktemp -d)
program=""
trap '[ -n "$program" ] && kill "$program" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$1" "$work/zorvek"  # root's folder, root's program
home="$work/home"
mkdir -p "$home/plugins/styles" "$home/xdg"
cp "$2" "$home/plugins/styles/"
chmod 700 "$home/xdg"
chown -R "$user:" "$home"
mark="$home/mark"

as_user=(timeout 20 setpriv --reuid="$user" --regid="$user" --clear-groups
    env -i HOME="$home" XDG_RUNTIME_DIR="$home/xdg" QT_QPA_PLATFORM=offscreen
    QT_PLUGIN_PATH="$home/plugins" QT_STYLE_OVERRIDE=markstyle ZORVEK_PLUGIN_MARK="$mark"
    ASAN_OPTIONS=detect_leaks=0 "$work/zorvek")

"${as_user[@]}" >"$work/plain.log" 2>&1 &
program=$!
for _ in $(seq 1 400); do
    [ -e "$mark" ] && break
    sleep 0.05
done
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
program=""
[ -e "$mark" ] || { cat "$work/plain.log"; echo "FAIL: the plain copy never loaded the plugin"; exit 1; }
rm "$mark"

setcap cap_net_raw+ep "$work/zorvek"
status=0
"${as_user[@]}" >"$work/out.log" 2>&1 || status=$?
cat "$work/out.log"
[ "$status" -eq 1 ] || { echo "FAIL: the copy with capabilities ended with status $status"; exit 1; }
grep -q "elevated privileges" "$work/out.log" || { echo "FAIL: no word on why"; exit 1; }
[ "$(wc -l <"$work/out.log")" -eq 1 ] || { echo "FAIL: more than the one line"; exit 1; }
[ ! -e "$mark" ] || { echo "FAIL: the user's plugin ran with capabilities"; exit 1; }
echo "PASS"
