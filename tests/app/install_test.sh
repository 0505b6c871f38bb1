#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs into a fresh prefix and checks what a user gets there: the program
# with its companion library beside it, the probe command, the desktop entry
# naming the installed program, and the icon.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/zorvek bin/libZorvek.so bin/zorvek-probe share/applications/zorvek.desktop \
         share/icons/hicolor/16x16/apps/zorvek.png share/zorvek/normal.ico share/zorvek/active.ico; do
    [ -e "$prefix/$f" ] || { echo "missing: $f"; exit 1; }
done
grep -qx "Exec=$prefix/bin/zorvek" "$prefix/share/applications/zorvek.desktop" ||
    { echo "the desktop entry does not start the installed program:"; cat "$prefix/share/applications/zorvek.desktop"; exit 1; }
grep -qx 'Name\[ja\]=Zorvek-自動Pinging' "$prefix/share/applications/zorvek.desktop"
grep -qx 'Icon=zorvek' "$prefix/share/applications/zorvek.desktop"
# The installed probe finds the library beside it.
out=$(ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/zorvek-probe" 127.0.0.1)
[ "$out" = "--------------------成功しました(0)" ] || { echo "probe said: $out"; exit 1; }
echo "PASS"
