// SPDX-License-Identifier: MIT
#include "tray/tray_shell_qt.h"

#include <QGuiApplication>
#include <string>

#include "text/cp932.h"
#include "tray/tray_icon.h"

namespace zorvek {

QtTrayShell::QtTrayShell(QObject* parent) : QObject(parent) {
    connect(
        &icon_, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { emit action(codeForReason(reason)); });
}

bool QtTrayShell::hostDrawsMenu(const QString& platformName) {
    return platformName.startsWith(QLatin1String("wayland"));
}

void QtTrayShell::offerMenu(QMenu* menu) {
    drawsMenu_ = hostDrawsMenu(QGuiApplication::platformName());
    if (drawsMenu_) icon_.setContextMenu(menu);
}

void QtTrayShell::registerPicture(uint32_t handle, const QIcon& icon) { pictures_[handle] = icon; }

int QtTrayShell::codeForReason(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger: return WM_LBUTTONDOWN;
        case QSystemTrayIcon::Context: return WM_RBUTTONDOWN;
        case QSystemTrayIcon::DoubleClick: return WM_LBUTTONDBLCLK;
        case QSystemTrayIcon::MiddleClick: return WM_MBUTTONDOWN;
        case QSystemTrayIcon::Unknown: break;
    }
    return 0;
}

QString QtTrayShell::tipOf(const TrayIconRecord& record) {
    const auto tip = record.tip();
    std::string bytes;
    for (uint8_t b : tip) {
        if (b == 0) break;
        bytes.push_back(static_cast<char>(b));
    }
    const std::optional<std::string> text = cp932::toUtf8(bytes);
    return QString::fromStdString(text.value_or(std::string()));
}

void QtTrayShell::apply(const TrayIconRecord& record) {
    const auto found = pictures_.find(record.hIcon());
    icon_.setIcon(found != pictures_.end() ? found->second : QIcon());
    icon_.setToolTip(tipOf(record));
}

void QtTrayShell::notify(uint32_t operation, const TrayIconRecord& record) {
    switch (operation) {
        case NIM_ADD:
            // Without a tray host Qt keeps the icon and embeds it once a host
            // appears; the program goes on either way.
            apply(record);
            icon_.show();
            break;
        case NIM_MODIFY: apply(record); break;
        case NIM_DELETE: icon_.hide(); break;
        default: break;
    }
}

}  // namespace zorvek
