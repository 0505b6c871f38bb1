// SPDX-License-Identifier: MIT
// The shell layer on Qt: takes the notify operations with the icon record, as
// the Windows shell would, and drives a QSystemTrayIcon with them. Mouse
// actions on the icon come back as the window-message codes the program
// decodes (513 left press, 516 right press, ...).
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <map>

#include "tray/shell.h"

namespace zorvek {

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

    // On Wayland a program cannot place a popup menu at the pointer on its
    // own; the tray host (a StatusNotifierItem host) draws the icon's menu
    // itself. There the menu is handed to the icon, and the program must not
    // pop it up again. On X11 the program pops it up, as on Windows.
    static bool hostDrawsMenu(const QString& platformName);
    void offerMenu(QMenu* menu);
    bool drawsMenu() const { return drawsMenu_; }

signals:
    void action(int code);

private:
    void apply(const TrayIconRecord& record);

    QSystemTrayIcon icon_;
    std::map<uint32_t, QIcon> pictures_;
    bool drawsMenu_ = false;
};

}  // namespace zorvek
