// SPDX-License-Identifier: MIT
#include "tray/tray_shell_qt.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <string>

#include "text/cp932.h"
#include "tray/tray_icon.h"

namespace zorvek::tray {

namespace {

bool watcherOnTheBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

}  // namespace

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"),
                                                      Qt::CaseInsensitive);
}

QtTrayShell::QtTrayShell(QObject* parent)
    : QObject(parent), qtIconIsDBusItem_(watcherOnTheBus()), xembedPossible_(!onWayland()) {
    connect(
        &icon_, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { emit action(codeForReason(reason)); });
    connect(&sni_, &StatusNotifierItem::activated, this, [this] { emit action(WM_LBUTTONDOWN); });
    connect(&sni_, &StatusNotifierItem::contextMenuRequested, this,
            [this] { emit action(WM_RBUTTONDOWN); });
    connect(&sni_, &StatusNotifierItem::stateChanged, this, &QtTrayShell::showOneIcon);
}

void QtTrayShell::offerMenu(QMenu* menu) { sni_.setMenu(menu); }

bool QtTrayShell::hostPresent() const {
    return sni_.registered() || QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayShell::showOneIcon() {
    icon_.setVisible(added_ && xembedPossible_ && !qtIconIsDBusItem_ && !sni_.registered() &&
                     !sni_.registering());
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
    const QIcon picture = found != pictures_.end() ? found->second : QIcon();
    icon_.setIcon(picture);
    icon_.setToolTip(tipOf(record));
    sni_.setIcon(picture);
    sni_.setToolTip(tipOf(record));
}

void QtTrayShell::notify(uint32_t operation, const TrayIconRecord& record) {
    switch (operation) {
        case NIM_ADD:
            // Without a tray host both wait: Qt embeds the icon once an XEmbed
            // tray appears, the item registers once a watcher appears; the
            // program goes on either way.
            apply(record);
            added_ = true;
            sni_.setVisible(true);
            showOneIcon();
            break;
        case NIM_MODIFY: apply(record); break;
        case NIM_DELETE:
            added_ = false;
            sni_.setVisible(false);
            showOneIcon();
            break;
        default: break;
    }
}

}  // namespace zorvek::tray
