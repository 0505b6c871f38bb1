// SPDX-License-Identifier: MIT
// The notification icon's operations: add it, switch its picture between the
// normal and the active icon, remove it, and decode the mouse codes it reports.
// TrayIcon holds only references; the window owns the record, the shell and
// the icon state text, and hands them in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tray/shell.h"
#include "tray/tray_icon_record.h"

namespace zorvek::tray {

// Mouse codes delivered with the icon's callback message.
inline constexpr int WM_MOUSEMOVE = 512;
inline constexpr int WM_LBUTTONDOWN = 513;
inline constexpr int WM_LBUTTONUP = 514;
inline constexpr int WM_LBUTTONDBLCLK = 515;
inline constexpr int WM_RBUTTONDOWN = 516;
inline constexpr int WM_RBUTTONUP = 517;
inline constexpr int WM_RBUTTONDBLCLK = 518;
inline constexpr int WM_MBUTTONDOWN = 519;

// Record values set by TrayIcon::add.
inline constexpr uint32_t kTrayIconId = 1;
inline constexpr uint32_t kTrayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
// The icon reports through the window's mouse-move message; the mouse code of
// what actually happened travels with it and is decoded by actionForCode.
inline constexpr uint32_t kTrayCallbackMessage = WM_MOUSEMOVE;  // 512

enum class TrayAction { None, ShowWindow, PopupMenu };

// Left button pressed: show the window. Right button pressed: pop up the menu.
// Every other code: nothing.
TrayAction actionForCode(int code);

// Reads the icon state text as a number: optional leading blanks, an optional
// minus sign and decimal digits, anything after the digits ignored ("1" and
// "1 " read 1). A text that does not start with a number, or whose number does
// not fit an int, reads 0, which is the normal icon.
int readIconState(std::string_view text);

class TrayIcon {
public:
    // `iconState` is the text "0" (normal icon shown) or "1" (active icon
    // shown); it starts as "0" and this class keeps it current.
    TrayIcon(TrayIconRecord& record, Shell& shell, std::string& iconState)
        : record_(record), shell_(shell), iconState_(iconState) {}

    // Fills the record (size, window, id 1, flags 7, callback 512, the normal
    // icon, the caption as tip) and shows the icon.
    void add(uint32_t windowHandle, std::string_view caption, uint32_t normalIconHandle);

    // Removes the icon, sending the record as it is.
    void remove();

    // State 1 shows the active icon, state 0 the normal one. Sends the whole
    // record again only when the shown picture changes; a switch to the state
    // already shown, or any other state value, sends nothing.
    void setTrayIconState(int state, uint32_t normalIconHandle, uint32_t activeIconHandle);

private:
    TrayIconRecord& record_;
    Shell& shell_;
    std::string& iconState_;
};

}  // namespace zorvek::tray
