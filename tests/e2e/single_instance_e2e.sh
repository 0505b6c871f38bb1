#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One prober per installation: a second start shows the running program's
# window and ends with status 0, leaving one icon; two starts at the same
# moment leave one program; a program killed outright does not keep the next
# start from running. The runtime folder's path is longer than a socket
# address may be (107 bytes), which must not matter.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
XDG_RUNTIME_DIR="$E2E_WORK/$(printf 'runtime-folder-%.0s' 1 2 3 4 5 6)"
mkdir -m 700 "$XDG_RUNTIME_DIR"
[ "${#XDG_RUNTIME_DIR}" -gt 107 ] || fail "the runtime folder's path is only ${#XDG_RUNTIME_DIR} bytes"
e2e_start_program
expect_icon
main_window_visible && fail "start-up showed the window"

start=$(date +%s%N)
status=0
timeout 10 "$E2E_WORK/zorvek" >>"$E2E_WORK/out.log" 2>&1 || status=$?
echo "second start ended after $((($(date +%s%N) - start) / 1000000)) ms with status $status"
[ "$status" -eq 0 ] || fail "the second start ended with status $status"
wait_until main_window_visible 10 || fail "the second start did not show the first one's window"
kill -0 "$ZORVEK_PID" || fail "the first program ended"
[ "$(icon_count)" -eq 1 ] || fail "$(icon_count) icons in the tray"

# Killed outright: its lock goes with it, its socket stays behind.
kill -9 "$ZORVEK_PID"
wait "$ZORVEK_PID" 2>/dev/null || true
wait_until '[ "$(icon_count)" -eq 0 ]' 10 || fail "the killed program's icon stayed"
ls "$XDG_RUNTIME_DIR"/zorvek-* >/dev/null || fail "no socket left to test with"
e2e_start_program
expect_icon "the start after a killed one did not run"
sleep 1
kill -0 "$ZORVEK_PID" || fail "the start after a killed one ended"
# It listens where the killed one did: a further start hands over to it.
timeout 10 "$E2E_WORK/zorvek" >>"$E2E_WORK/out.log" 2>&1 || fail "a start after the restart did not hand over"
wait_until main_window_visible 10 || fail "the restarted program did not take the request"
choose_from_tray_menu 2
expect_program_ended 終了

# Two starts at once: one runs, the other hands over and ends with 0.
"$E2E_WORK/zorvek" >>"$E2E_WORK/out.log" 2>&1 &
one=$!
"$E2E_WORK/zorvek" >>"$E2E_WORK/out.log" 2>&1 &
two=$!
wait_until '! kill -0 $one || ! kill -0 $two' 10 || fail "neither of two starts at once ended"
if kill -0 "$one" 2>/dev/null; then ZORVEK_PID=$one ended=$two; else ZORVEK_PID=$two ended=$one; fi
status=0
wait "$ended" || status=$?
[ "$status" -eq 0 ] || fail "the start that handed over ended with status $status"
expect_icon "no icon after two starts at once"
sleep 0.5
[ "$(icon_count)" -eq 1 ] || fail "$(icon_count) icons after two starts at once"
choose_from_tray_menu 2
expect_program_ended 終了
echo "PASS"
