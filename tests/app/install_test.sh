#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs as a packager does (cmake --install into a fresh prefix) and as a
# user does (scripts/install into a home folder), both under paths with a
# space, as in "/home/Jane Doe", and checks what the desktop gets: exactly the
# expected files, a desktop entry that desktop-file-validate accepts and whose
# Exec names the installed program as one quoted argument, icons of every size
# with alpha, valid software-centre metadata, and a program folder that keeps
# its settings file on reinstalling. Uninstalling leaves nothing of it behind
# but the settings file, when asked to keep it.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

sizes=(22 24 32 48 64 128 256)
program_files=(bin/libZorvek.so bin/zorvek bin/zorvek-probe)
shared_files=(applications/zorvek.desktop icons/hicolor/scalable/apps/zorvek.svg
    metainfo/io.github.zorvek.Zorvek.metainfo.xml man/man1/zorvek-probe.1)
for n in "${sizes[@]}"; do shared_files+=("icons/hicolor/${n}x$n/apps/zorvek.png"); done

# Fails unless folder $1 holds exactly the files $2..., besides the caches
# that the desktop's tools keep of entries and icons.
expect_files() {
    local folder=$1
    shift
    local want got
    want=$(printf '%s\n' "$@" | sort)
    got=$(cd "$folder" && find . -type f ! -name '*.cache' | sed 's|^\./||' | sort)
    [ "$got" = "$want" ] || fail "files under $folder:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"
}

# Checks the desktop entry $1 and the icons under the data folder $2; $3 is
# the Exec line the entry must hold.
check_desktop_files() {
    local entry=$1 data=$2 exec_line=$3 report n info
    report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
    [ -z "$report" ] || fail "desktop-file-validate hints: $report"
    grep -qxF "$exec_line" "$entry" || fail "the entry should hold $exec_line: $(grep ^Exec "$entry")"
    grep -qx 'Name\[ja\]=Zorvek-自動Pinging' "$entry" || fail "Name[ja]"
    grep -qx 'Icon=zorvek' "$entry" || fail "Icon"
    for n in "${sizes[@]}"; do
        # Size, an alpha channel, and a transparent corner.
        info=$(identify -format '%w %h %[channels] %[fx:p{0,0}.a]' "$data/icons/hicolor/${n}x$n/apps/zorvek.png")
        [ "$info" = "$n $n srgba 0" ] || fail "icon ${n}x$n: $info"
    done
}

# The packager's way. Inside the quotes of Exec, " and $ take a backslash,
# which the entry's string escaping doubles.
prefix="$work/Jane Doe/\"opt\" \$HOME"
cmake --install "$build" --prefix "$prefix" >/dev/null
expect_files "$prefix" "${program_files[@]}" "${shared_files[@]/#/share/}"
check_desktop_files "$prefix/share/applications/zorvek.desktop" "$prefix/share" \
    'Exec="'"$work"'/Jane Doe/\\"opt\\" \\$HOME/bin/zorvek"'
metainfo="$prefix/share/metainfo/io.github.zorvek.Zorvek.metainfo.xml"
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $report"
grep -qF '<launchable type="desktop-id">zorvek.desktop</launchable>' "$metainfo" ||
    fail "the metadata does not launch zorvek.desktop"
# The installed probe finds the library beside it.
out=$(ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/zorvek-probe" 127.0.0.1)
[ "$out" = "--------------------成功しました(0)" ] || fail "probe said: $out"

# The user's way, from the build folder above: the program folder under
# ~/.local/opt, the rest where the menu looks.
home="$work/Jane Doe"
out=$(env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" ZORVEK_BUILD_DIR="$build" \
    "$top/scripts/install") || fail "scripts/install: $out"
opt="$home/.local/opt/zorvek"
expect_files "$opt" "${program_files[@]}"
expect_files "$home/.local/share" "${shared_files[@]}"
check_desktop_files "$home/.local/share/applications/zorvek.desktop" "$home/.local/share" \
    "Exec=\"$opt/bin/zorvek\""
# The printed way to start at login works as printed.
autostart_line=$(grep -F 'mkdir -p' <<<"$out") || fail "no autostart command in: $out"
eval "$autostart_line"
cmp "$home/.config/autostart/zorvek.desktop" "$home/.local/share/applications/zorvek.desktop" ||
    fail "the printed autostart command did not copy the entry"

# Reinstalling with XDG_DATA_HOME set keeps the settings beside the program.
printf '"h","5","23:00","07:59",1,0,0\r\n' >"$opt/bin/Zorvek.ini"
cp "$opt/bin/Zorvek.ini" "$work/saved.ini"
XDG_DATA_HOME="$work/data home" HOME="$home" ZORVEK_BUILD_DIR="$build" "$top/scripts/install" \
    >/dev/null
cmp "$opt/bin/Zorvek.ini" "$work/saved.ini" || fail "reinstalling changed the settings file"
expect_files "$work/data home" "${shared_files[@]}"

# Uninstalling, first from the default data folder keeping the settings, then
# from the other one: nothing of the installation is left, the desktop's
# caches and the autostart copy included.
env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$top/scripts/install" --uninstall \
    --keep-settings >/dev/null ||
    fail "scripts/install --uninstall --keep-settings failed"
left=$(find "$home/.local" "$home/.config" -mindepth 1 ! -path "$home/.local/share" | sort)
[ "$left" = "$(printf '%s\n' "$home/.local/opt" "$opt" "$opt/bin" "$opt/bin/Zorvek.ini" | sort)" ] ||
    fail "left after uninstalling with --keep-settings:"$'\n'"$left"
cmp "$opt/bin/Zorvek.ini" "$work/saved.ini" || fail "--keep-settings changed the settings file"
out=$(env -u XDG_CONFIG_HOME XDG_DATA_HOME="$work/data home" HOME="$home" "$top/scripts/uninstall")
grep -qF "$opt/bin/Zorvek.ini" <<<"$out" || fail "uninstalling did not say the settings file goes: $out"
left=$(find "$home/.local" "$home/.config" "$work/data home" -mindepth 1 ! -path "$home/.local/share")
[ -z "$left" ] || fail "left after uninstalling:"$'\n'"$left"
echo "PASS"
