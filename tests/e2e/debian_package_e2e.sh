#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package for real, as an administrator and two users meet it:
# scripts/package builds it, apt-get installs it (offline: what it depends on
# is installed already), an ordinary user runs zorvek-probe 127.0.0.1 from the
# PATH, then two ordinary users with homes of their own each start zorvek from
# the PATH, save a different host through the window and find it again after
# a restart, in their own ~/.config/zorvek/Zorvek.ini, while the program's
# folder stays as installed. apt-get purge then leaves no file of the package.
# The users and the package go again on every way out. Other tests are not
# disturbed: they run the build tree's programs, never those in /usr.
# Usage: debian_package_e2e.sh PROGRAM LIBRARY (both unused: the package is
# $ZORVEK_TEST_DEB, or else built here from a Release build of its own)
. "$(dirname "$0")/lib.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package and creating users needs root"
    exit 0
fi
if dpkg-query -W -f='${Status}' zorvek 2>/dev/null | grep -q installed; then
    echo "SKIP: a zorvek package is installed on this machine already; it is left alone"
    exit 0
fi
top=$(cd "$E2E_DIR/../.." && pwd)
users=(zorvek-pkg1 zorvek-pkg2)
hosts=(127.0.0.2 127.0.0.3)
program_dir=/usr/lib/zorvek
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=120 -y -qq "$@"; }

E2E_WORK=$(mktemp -d)
chmod 755 "$E2E_WORK"   # the users reach their runtime folders inside
installed=
start_private_display
package_cleanup() {
    # The program a user still runs ends before its user can go.
    if [ -n "${ZORVEK_PID:-}" ]; then
        kill "$ZORVEK_PID" 2>/dev/null || true
        wait "$ZORVEK_PID" 2>/dev/null || true
        ZORVEK_PID=
    fi
    [ -z "$installed" ] || apt_get purge zorvek >/dev/null 2>&1 || true
    local user i
    for user in "${users[@]}"; do
        for i in $(seq 1 50); do
            id -u "$user" >/dev/null 2>&1 || break
            userdel --remove "$user" 2>>"$E2E_WORK/userdel.log" || sleep 0.1
        done
        # A process of the user's that escaped (it can only be one of ours)
        # keeps the plain userdel from working; the user goes all the same.
        ! id -u "$user" >/dev/null 2>&1 || userdel --force --remove "$user" 2>>"$E2E_WORK/userdel.log" ||
            echo "cannot remove the user $user" >&2
    done
    e2e_cleanup
}
trap package_cleanup EXIT
# Users left by a run that was killed outright go first.
for user in "${users[@]}"; do
    ! id -u "$user" >/dev/null 2>&1 || userdel --remove "$user" >/dev/null 2>&1 || true
done

# scripts/test builds the package before the tests start (ZORVEK_TEST_DEB),
# so that its compiler does not slow the tests that run beside this one.
mkdir "$E2E_WORK/deb"
if [ -n "${ZORVEK_TEST_DEB:-}" ]; then
    cp "$ZORVEK_TEST_DEB" "$E2E_WORK/deb/" || fail "cannot copy $ZORVEK_TEST_DEB"
else
    "$top/scripts/package" "$E2E_WORK/deb" >"$E2E_WORK/package.log" 2>&1 ||
        fail "scripts/package failed: $(tail -n 20 "$E2E_WORK/package.log")"
fi
debs=("$E2E_WORK"/deb/zorvek_*_*.deb)
[ -f "${debs[0]}" ] || fail "no zorvek_VERSION_ARCH.deb was built"
installed=1
# Recommends (qt6-wayland) would need the network; only what is there is used.
apt_get install --no-install-recommends "${debs[0]}" >"$E2E_WORK/apt.log" 2>&1 ||
    fail "apt-get install failed: $(tail -n 20 "$E2E_WORK/apt.log")"
dpkg -L zorvek >"$E2E_WORK/files"
[ "$(readlink -f /usr/bin/zorvek)" = "$program_dir/zorvek" ] || fail "zorvek is not on the PATH"
entry=/usr/share/applications/zorvek.desktop
desktop-file-validate "$entry" || fail "the menu entry is not valid"
grep -qx 'Exec=zorvek' "$entry" || fail "the menu entry does not start zorvek from the PATH"
snapshot() { (cd "$program_dir" && find . -printf '%p %m %u %s %T@\n' | sort); }
snapshot >"$E2E_WORK/program_dir.before"

for user in "${users[@]}"; do
    useradd --create-home --shell /bin/sh --user-group "$user" || fail "cannot create $user"
done

# Runs the command $2... as user $1 in a login-like environment: their home,
# a private runtime folder, this display, the system's PATH. Called in a
# subshell (a background job or $(...)), which becomes the command, so that
# its process id is the command's own.
as_user() {
    local user=$1 home
    shift
    home=$(getent passwd "$user" | cut -d: -f6)
    mkdir -p -m 700 "$E2E_WORK/run-$user"
    chown "$user:" "$E2E_WORK/run-$user"
    exec setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 DISPLAY="$DISPLAY" \
        XDG_RUNTIME_DIR="$E2E_WORK/run-$user" PATH=/usr/bin:/bin "$@"
}

probe=$(as_user "${users[0]}" zorvek-probe 127.0.0.1) || fail "zorvek-probe 127.0.0.1 failed: $probe"
[ "$probe" = "--------------------成功しました(0)" ] || fail "zorvek-probe said: $probe"

start_as() {
    as_user "$1" zorvek >"$E2E_WORK/out.log" 2>&1 &
    ZORVEK_PID=$!
    expect_icon "the icon of $1's zorvek was not embedded"
}
saved_host() { head -c 100 "$1" 2>/dev/null | cut -d, -f1; }
save_button() { xdotool mousemove --window "$(main_window)" 295 54 click 1; }
quit_button() { xdotool mousemove --window "$(main_window)" 295 132 click 1; }

for n in 0 1; do
    user=${users[$n]}
    host=${hosts[$n]}
    home=$(getent passwd "$user" | cut -d: -f6)
    own="$home/.config/zorvek/Zorvek.ini"

    start_as "$user"
    show_window_by_click "a left click did not show $user's window"
    sleep 0.3
    xdotool type --delay 20 "$host"   # over the selected host
    save_button
    wait_until '[ "$(saved_host "$own")" = "\"$host\"" ]' 10 ||
        fail "$user's save gave: $(od -c "$own" 2>/dev/null | head -n3)"
    [ "$(stat -c '%U %a' "$own" "$home/.config/zorvek" | tr '\n' ' ')" = "$user 644 $user 700 " ] ||
        fail "$user's settings: $(stat -c '%n %U %a' "$own" "$home/.config/zorvek")"
    quit_button
    expect_program_ended "$user's Zorvek終了"

    # Started again, the saved host is back: the settings opened from the
    # tray menu save as the same file.
    cp "$own" "$E2E_WORK/saved"
    start_as "$user"
    choose_from_tray_menu 1
    wait_until main_window_visible 10 || fail "設定 did not open $user's window"
    rm "$own"
    save_button
    wait_until '[ -f "$own" ]' 10 || fail "$user's second save wrote nothing"
    cmp -s "$own" "$E2E_WORK/saved" || fail "$user's settings did not come back: $(cat "$own")"
    quit_button
    expect_program_ended "$user's second Zorvek終了"
done
first_home=$(getent passwd "${users[0]}" | cut -d: -f6)
[ "$(saved_host "$first_home/.config/zorvek/Zorvek.ini")" = "\"${hosts[0]}\"" ] ||
    fail "${users[0]}'s settings changed with ${users[1]}'s"
snapshot | cmp -s - "$E2E_WORK/program_dir.before" ||
    fail "the program folder changed: $(snapshot | diff "$E2E_WORK/program_dir.before" -)"

apt_get purge zorvek >"$E2E_WORK/apt.log" 2>&1 || fail "apt-get purge failed: $(tail "$E2E_WORK/apt.log")"
installed=
left=()
while IFS= read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    # Folders other packages share (/usr/share/man, ...) stay.
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    left+=("$path")
done <"$E2E_WORK/files"
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
echo "PASS"
