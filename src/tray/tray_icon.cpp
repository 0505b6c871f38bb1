// SPDX-License-Identifier: MIT
#include "tray/tray_icon.h"

#include <charconv>

namespace zorvek::tray {

TrayAction actionForCode(int code) {
    switch (code) {
        case WM_LBUTTONDOWN: return TrayAction::ShowWindow;
        case WM_RBUTTONDOWN: return TrayAction::PopupMenu;
        default: return TrayAction::None;
    }
}

int readIconState(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return 0;
    text.remove_prefix(first);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : 0;
}

void TrayIcon::add(uint32_t windowHandle, std::string_view caption, uint32_t normalIconHandle) {
    record_.setCbSize(TrayIconRecord::kSize);
    record_.setHWnd(windowHandle);
    record_.setUID(kTrayIconId);
    record_.setUFlags(kTrayIconFlags);
    record_.setUCallbackMessage(kTrayCallbackMessage);
    record_.setHIcon(normalIconHandle);
    record_.setTip(caption);
    shell_.notify(NIM_ADD, record_);
}

void TrayIcon::remove() { shell_.notify(NIM_DELETE, record_); }

void TrayIcon::setTrayIconState(int state, uint32_t normalIconHandle, uint32_t activeIconHandle) {
    const int shown = readIconState(iconState_);
    if (state == 1 && shown == 0) {
        record_.setHIcon(activeIconHandle);
        shell_.notify(NIM_MODIFY, record_);
        iconState_ = "1";
    } else if (state == 0 && shown == 1) {
        record_.setHIcon(normalIconHandle);
        shell_.notify(NIM_MODIFY, record_);
        iconState_ = "0";
    }
}

}  // namespace zorvek::tray
