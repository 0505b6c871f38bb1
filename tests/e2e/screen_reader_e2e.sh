#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a screen reader such as Orca finds through AT-SPI once the window is
# opened from the tray: a dialog named by its title, and each control with its
# role, its name and the label it is labelled by. Runs on a session bus of its
# own, with the desktop's screen-reader switch turned on as Orca turns it on.
if [ -z "${ZORVEK_OWN_SESSION_BUS:-}" ]; then
    ZORVEK_OWN_SESSION_BUS=1 exec env -u AT_SPI_BUS_ADDRESS dbus-run-session -- bash "$0" "$@" 2>&1
fi
. "$(dirname "$0")/lib.sh"
e2e_prepare "$1" "$2"
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >/dev/null || fail "no accessibility bus"
e2e_start_program
expect_icon
show_window_by_click

# One line per accessible object of the window: role | name | labelled by.
tree=$(timeout 60 /usr/bin/python3 - <<'PY'
import sys, time
import pyatspi

def find_window():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in filter(None, (desktop.getChildAtIndex(i) for i in range(desktop.childCount))):
        for window in filter(None, (app.getChildAtIndex(i) for i in range(app.childCount))):
            if window.name == "Zorvek-自動Pinging":
                return window
    return None

# The labels themselves and the never shown picture are left out: a screen
# reader meets the labels through the controls they label.
def show(node, depth=0):
    if node.getRoleName() in ("label", "image"):
        return
    labels = [r.getTarget(i).name for r in node.getRelationSet()
              if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for i in range(r.getNTargets())]
    print(f"{'  ' * depth}{node.getRoleName()} | {node.name} | {','.join(labels)}")
    for i in range(node.childCount):
        show(node.getChildAtIndex(i), depth + 1)

for _ in range(100):
    window = find_window()
    if window is not None:
        show(window)
        sys.exit(0)
    time.sleep(0.1)
sys.exit("the window is not on the accessibility bus")
PY
) || fail "$tree"

expected='dialog | Zorvek-自動Pinging | 
  text | ホスト名またはIPアドレス | ホスト名またはIPアドレス
  text | インターバル | インターバル
  panel | インターバルの単位 | 
    radio button | インターバル（分） | 
    radio button | インターバル（秒） | 
  text | 実行時間（00:00） | 実行時間（00:00）
  text | 実行時間（00:00）～ | ～
  check box | エラーを通知する | エラーを通知する
  check box | ログを表示する | ログを表示する
  list | ログ | 
  push button | 閉じる | 
  push button | 設定を保存 | 
  push button | Pingのテスト | 
  push button | ログのクリア | 
  push button | Zorvek終了 | '
[ "$tree" = "$expected" ] || fail "the screen reader sees:"$'\n'"$(diff <(echo "$expected") <(echo "$tree"))"
echo "PASS"
