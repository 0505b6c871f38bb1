// SPDX-License-Identifier: MIT
// The notification icon as a StatusNotifierItem on the session bus, for the
// panels that host such items (KDE, XFCE, GNOME's AppIndicator extension,
// waybar and others, on X11 and on Wayland). The item carries the picture and
// the tip, reports the host's left click (Activate) and right click
// (ContextMenu), and exports the tray menu over D-Bus (com.canonical.dbusmenu)
// so that a host that draws the menu itself shows its entries and chooses
// them. It registers with the panel's StatusNotifierWatcher whenever one
// appears on the bus, also when one panel replaces another.
#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class QDBusServiceWatcher;

namespace zorvek::tray {

// One picture of an item: width, height and ARGB32 pixels in network order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using SniPixmaps = QList<SniPixmap>;

// The tip: icon name, pictures, title and description.
struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString description;
};

// A menu entry with its properties and, for the root, its children.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

// How the types above travel on the bus.
const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event);
QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event);

class StatusNotifierItem;

// The object at /StatusNotifierItem (interface org.kde.StatusNotifierItem).
class SniObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(zorvek::tray::SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ iconName)
    Q_PROPERTY(zorvek::tray::SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ iconName)
    Q_PROPERTY(zorvek::tray::SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(zorvek::tray::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
public:
    explicit SniObject(StatusNotifierItem& item);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("zorvek"); }
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return {}; }
    SniPixmaps iconPixmap() const;
    SniPixmaps noPixmaps() const { return {}; }
    SniToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const;

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewIcon();
    void NewToolTip();
    void NewTitle();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& item_;
};

// The object at /MenuBar (interface com.canonical.dbusmenu): the tray menu's
// entries, ids 1, 2, ... in their order under the root 0.
class DBusMenuObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit DBusMenuObject(StatusNotifierItem& item);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   zorvek::tray::MenuLayout& layout);
    QList<zorvek::tray::MenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                               const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<zorvek::tray::MenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);

private:
    QVariantMap itemProperties(int id) const;
    StatusNotifierItem& item_;
};

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether the item is on the bus and a StatusNotifierWatcher has taken it.
    bool registered() const { return registered_; }
    // Whether a watcher is being asked to take it.
    bool registering() const { return registering_ > 0; }

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& tip);
    void setMenu(QMenu* menu);
    // Shows the item (on the bus, registered with every watcher that comes)
    // or takes it off the bus.
    void setVisible(bool visible);

    QIcon icon() const { return icon_; }
    QString toolTip() const { return toolTip_; }
    QMenu* menu() const { return menu_; }

signals:
    // The host's left click (Activate) and right click (ContextMenu).
    void activated();
    void contextMenuRequested();
    // A watcher took the item or refused it, or the last one went away.
    void stateChanged();

private:
    void registerWithWatcher();
    void setRegistered(bool registered);

    SniObject sni_;
    DBusMenuObject dbusMenu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QIcon icon_;
    QString toolTip_;
    QPointer<QMenu> menu_;
    bool visible_ = false;
    bool exported_ = false;
    bool registered_ = false;
    int registering_ = 0;
};

}  // namespace zorvek::tray

Q_DECLARE_METATYPE(zorvek::tray::SniPixmap)
Q_DECLARE_METATYPE(zorvek::tray::SniToolTip)
Q_DECLARE_METATYPE(zorvek::tray::MenuLayout)
Q_DECLARE_METATYPE(zorvek::tray::MenuItemProperties)
Q_DECLARE_METATYPE(zorvek::tray::MenuEvent)
