// SPDX-License-Identifier: MIT
// The shell layer on Qt: takes the notify operations with the icon record, as
// the Windows shell would, and shows the icon through one of two doors: a
// StatusNotifierItem of its own wherever a panel's StatusNotifierWatcher is on
// the session bus (on X11 and on Wayland; it registers again when a panel
// starts late or restarts, and exports the tray menu so that the panel draws
// it), otherwise a QSystemTrayIcon (the XEmbed tray of X11). Mouse actions on
// the icon come back as the window-message codes the program decodes (513
// left press, 516 right press, ...).
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <map>

#include "tray/shell.h"
#include "tray/status_notifier_qt.h"

namespace zorvek::tray {

// Whether Qt runs on Wayland. Wayland has no XEmbed tray: there a
// QSystemTrayIcon that is not a D-Bus item can never be shown, and showing it
// makes Qt look for X11's tray-window signal, which it warns is missing. Nor
// can a program raise its own window there.
bool onWayland();

class QtTrayShell : public QObject, public Shell {
    Q_OBJECT
public:
    explicit QtTrayShell(QObject* parent = nullptr);

    // Names a picture by the handle that the record's hIcon carries.
    void registerPicture(uint32_t handle, const QIcon& icon);

    void notify(uint32_t operation, const TrayIconRecord& record) override;

    // The action code for one of Qt's activation reasons.
    static int codeForReason(QSystemTrayIcon::ActivationReason reason);

    // The tip text of a record, decoded from code page 932 up to its zero byte.
    static QString tipOf(const TrayIconRecord& record);

    QSystemTrayIcon& icon() { return icon_; }
    StatusNotifierItem& statusNotifierItem() { return sni_; }

    // The tray menu: exported with the StatusNotifierItem, where the panel
    // draws it on its own right click. The program pops it up at the pointer
    // when the icon reports a right click (the XEmbed tray, or a panel that
    // asks the item for its menu).
    void offerMenu(QMenu* menu);

    // Whether a tray host has the icon or can take it.
    bool hostPresent() const;

signals:
    void action(int code);

private:
    void apply(const TrayIconRecord& record);
    // The QSystemTrayIcon is shown while the icon is added and no watcher
    // has, or is about to take, the StatusNotifierItem: never both at once.
    void showOneIcon();

    // Qt makes its QSystemTrayIcon a D-Bus item for the whole run when a
    // watcher is on the bus as the first one is made, and an XEmbed icon
    // otherwise; only the XEmbed one is ever shown, beside the item of our own.
    bool qtIconIsDBusItem_;
    // Wayland has no XEmbed tray; there the item is the only door.
    bool xembedPossible_;
    QSystemTrayIcon icon_;
    StatusNotifierItem sni_;
    std::map<uint32_t, QIcon> pictures_;
    bool added_ = false;
};

}  // namespace zorvek::tray
