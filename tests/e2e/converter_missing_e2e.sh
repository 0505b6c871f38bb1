#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without the C library's code page 932 converter (its gconv folder hidden in
# a private mount namespace), the program says why it cannot run, on standard
# error and in a box titled "Zorvek" when there is a display, and ends with a
# non-zero status; zorvek-probe says so for a host that needs converting and
# ends with status 2. Neither ends with an uncaught exception.
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
cp "$(dirname "$1")/zorvek-probe" "$E2E_WORK/"
gconv=$(dirname "$(ls /usr/lib/*/gconv/gconv-modules /usr/lib/gconv/gconv-modules 2>/dev/null | head -n1)")
[ -d "$gconv" ] || fail "no gconv folder found"
# Root may mount in a private namespace at once; anyone else in a user namespace.
userns=()
[ "$(id -u)" -eq 0 ] || userns=(--map-root-user)
without_converter() {
    unshare "${userns[@]}" --mount --propagation private \
        bash -c 'mount -t tmpfs none "$0" && exec "$@"' "$gconv" "$@"
}

status=0
without_converter "$E2E_WORK/zorvek-probe" テスト >"$E2E_WORK/probe.out" 2>"$E2E_WORK/probe.err" || status=$?
[ "$status" -eq 2 ] || fail "zorvek-probe ended with $status: $(cat "$E2E_WORK/probe.err")"
grep -q 'code page 932' "$E2E_WORK/probe.err" || fail "zorvek-probe said: $(cat "$E2E_WORK/probe.err")"
[ ! -s "$E2E_WORK/probe.out" ] || fail "zorvek-probe printed a result: $(cat "$E2E_WORK/probe.out")"

# No display: the reason on standard error only.
status=0
(unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; without_converter "$E2E_WORK/zorvek") \
    2>"$E2E_WORK/nodisplay.err" || status=$?
[ "$status" -ne 0 ] || fail "the program ended with status 0 without a converter"
grep -q 'Zorvekを起動できません' "$E2E_WORK/nodisplay.err" || fail "stderr: $(cat "$E2E_WORK/nodisplay.err")"
grep -qi 'terminate\|exception' "$E2E_WORK/nodisplay.err" && fail "an uncaught exception: $(cat "$E2E_WORK/nodisplay.err")"

# A display: the box as well; once it is answered the program ends.
without_converter "$E2E_WORK/zorvek" 2>"$E2E_WORK/display.err" &
ZORVEK_PID=$!
wait_until "xdotool search --onlyvisible --name '^Zorvek$'" 20 || fail "no box titled Zorvek"
grep -q 'Zorvekを起動できません' "$E2E_WORK/display.err" || fail "stderr: $(cat "$E2E_WORK/display.err")"
# The box may still be settling (its window can be replaced while it is
# mapped), so Return goes to whichever box window is there until it ends.
for _ in $(seq 1 10); do
    box=$(xdotool search --onlyvisible --name '^Zorvek$' 2>/dev/null | head -n1) || true
    [ -n "$box" ] && { xdotool key --window "$box" Return 2>/dev/null || true; }
    wait_until '! kill -0 $ZORVEK_PID' 1 && break
done
kill -0 "$ZORVEK_PID" 2>/dev/null && fail "the program did not end after the box"
status=0
wait "$ZORVEK_PID" || status=$?
ZORVEK_PID=
[ "$status" -ne 0 ] || fail "the program ended with status 0 after the box"
echo "PASS"
