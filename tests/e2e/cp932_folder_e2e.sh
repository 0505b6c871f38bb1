#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A program folder named in code page 932 (as unpacked from an archive made on
# a Japanese Windows system; not valid UTF-8, with a 0x5C trail byte), started
# from another working directory that holds a settings file of its own: the
# Zorvek.ini beside the program is read, the library beside it probes
# 127.0.0.1 without a failure box, a save rewrites the file beside the
# program, and the working directory is neither read nor written.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
dir="$E2E_WORK/$(printf '\x83\x65\x83\x58\x83\x67\x95\x5c')"   # テスト表
mkdir "$dir" "$E2E_WORK/elsewhere"
mv "$E2E_WORK/zorvek" "$E2E_WORK/$(basename "$2")" "$dir/"
# Beside the program: a saved host, probed every second at any time of day,
# the error box on; a line end of LF alone, which a save turns into CR LF.
printf '"127.0.0.1","1","00:00","00:00",0,1,1\n' >"$dir/Zorvek.ini"
# In the working directory: no host, so reading it would leave the icon normal.
printf '"","1","00:00","00:00",0,1,1\r\n' >"$E2E_WORK/elsewhere/Zorvek.ini"
cp "$E2E_WORK/elsewhere/Zorvek.ini" "$E2E_WORK/decoy.before"

(cd "$E2E_WORK/elsewhere" && exec "$dir/zorvek") >"$E2E_WORK/out.log" 2>&1 &
ZORVEK_PID=$!
expect_icon
icon=$(icon_window)
wait_until '[ "$(icon_picture "$icon")" = active ]' 10 || fail "the settings beside the program were not read"
# The probe at start-up loaded the library from the program's folder...
LC_ALL=C grep -qF "$dir/$(basename "$2")" "/proc/$ZORVEK_PID/maps" ||
    fail "libZorvek.so from the program's folder is not loaded"
# ...and neither it nor the next ones failed (-2 would open "Zorvekエラー").
sleep 2.5
message_box_visible && fail "a probe failed: $(cat "$E2E_WORK/out.log")"

show_window_by_click
win=$(main_window)
xdotool mousemove --window "$win" 295 54 click 1   # 設定を保存
expected=$(printf '"127.0.0.1","1","00:00","00:00",0,1,1\r\n')
wait_until '[ "$(cat "$dir/Zorvek.ini")" = "$expected" ]' 10 ||
    fail "the save did not rewrite the file beside the program: $(od -c "$dir/Zorvek.ini" | head -n3)"
cmp -s "$E2E_WORK/elsewhere/Zorvek.ini" "$E2E_WORK/decoy.before" || fail "the working directory's file changed"
[ "$(ls -A "$E2E_WORK/elsewhere")" = "Zorvek.ini" ] || fail "the working directory gained: $(ls -A "$E2E_WORK/elsewhere")"
choose_from_tray_menu 2
expect_program_ended 終了
echo "PASS"
