// SPDX-License-Identifier: MIT
#include "tray/status_notifier_qt.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QMenu>
#include <QtEndian>

namespace zorvek::tray {

const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.pixels;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.pixels;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.pixmaps >> tip.title >> tip.description;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.pixmaps << tip.title << tip.description;
    out.endStructure();
    return out;
}
// A layout's children travel as variants, each holding a layout.
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout) {
    in.beginStructure();
    in >> layout.id >> layout.properties;
    in.beginArray();
    layout.children.clear();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        layout.children.append(qdbus_cast<MenuLayout>(child.variant()));
    }
    in.endArray();
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout) {
    out.beginStructure();
    out << layout.id << layout.properties;
    out.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : layout.children) out << QDBusVariant(QVariant::fromValue(child));
    out.endArray();
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemProperties& item) {
    in.beginStructure();
    in >> item.id >> item.properties;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemProperties& item) {
    out.beginStructure();
    out << item.id << item.properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event) {
    in.beginStructure();
    in >> event.id >> event.eventId >> event.data >> event.timestamp;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event) {
    out.beginStructure();
    out << event.id << event.eventId << event.data << event.timestamp;
    out.endStructure();
    return out;
}

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

void registerTypes() {
    [[maybe_unused]] static const bool done = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<QList<MenuLayout>>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<QList<MenuItemProperties>>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<QList<MenuEvent>>();
        return true;
    }();
}

// The icon's pictures at every size it has, as the item protocol wants them.
SniPixmaps pixmapsOf(const QIcon& icon) {
    SniPixmaps pixmaps;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty() && !icon.isNull()) sizes = {QSize(16, 16), QSize(32, 32)};
    for (const QSize& size : sizes) {
        const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.pixels.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4) qToBigEndian(row[x], out);
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

}  // namespace

SniObject::SniObject(StatusNotifierItem& item) : item_(item) {}

QString SniObject::title() const { return item_.toolTip(); }

SniPixmaps SniObject::iconPixmap() const { return pixmapsOf(item_.icon()); }

SniToolTip SniObject::toolTip() const { return {QString(), {}, item_.toolTip(), QString()}; }

QDBusObjectPath SniObject::menu() const { return QDBusObjectPath(kMenuPath); }

void SniObject::Activate(int, int) { emit item_.activated(); }

void SniObject::SecondaryActivate(int, int) {}

void SniObject::ContextMenu(int, int) { emit item_.contextMenuRequested(); }

void SniObject::Scroll(int, const QString&) {}

DBusMenuObject::DBusMenuObject(StatusNotifierItem& item) : item_(item) {}

QVariantMap DBusMenuObject::itemProperties(int id) const {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return properties;
    }
    const QList<QAction*> actions = item_.menu() ? item_.menu()->actions() : QList<QAction*>();
    if (id < 1 || id > actions.size()) return properties;
    const QAction* action = actions.at(id - 1);
    if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        // An underscore marks a mnemonic in these labels; a real one is doubled.
        QString label = action->text();
        label.replace(QLatin1Char('_'), QStringLiteral("__"));
        properties.insert(QStringLiteral("label"), label);
    }
    properties.insert(QStringLiteral("enabled"), action->isEnabled());
    properties.insert(QStringLiteral("visible"), action->isVisible());
    return properties;
}

uint DBusMenuObject::GetLayout(int parentId, int recursionDepth, const QStringList&,
                               MenuLayout& layout) {
    layout = MenuLayout{parentId, itemProperties(parentId), {}};
    if (parentId == 0 && recursionDepth != 0 && item_.menu() != nullptr) {
        for (int id = 1; id <= item_.menu()->actions().size(); ++id)
            layout.children.append(MenuLayout{id, itemProperties(id), {}});
    }
    return 1;
}

QList<MenuItemProperties> DBusMenuObject::GetGroupProperties(const QList<int>& ids,
                                                             const QStringList&) {
    QList<MenuItemProperties> items;
    for (int id : ids) items.append({id, itemProperties(id)});
    return items;
}

QDBusVariant DBusMenuObject::GetProperty(int id, const QString& name) {
    return QDBusVariant(itemProperties(id).value(name));
}

void DBusMenuObject::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (eventId != QLatin1String("clicked") || item_.menu() == nullptr) return;
    const QList<QAction*> actions = item_.menu()->actions();
    if (id < 1 || id > actions.size()) return;
    // Chosen once the reply to the host has gone, as 終了 ends the process at
    // once: the reply is queued when this returns, and a round trip to the
    // bus behind it makes sure it has been written.
    QPointer<QAction> action = actions.at(id - 1);
    QMetaObject::invokeMethod(
        this,
        [action] {
            QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcherService);
            if (action && action->isEnabled()) action->trigger();
        },
        Qt::QueuedConnection);
}

QList<int> DBusMenuObject::EventGroup(const QList<MenuEvent>& events) {
    for (const MenuEvent& event : events)
        Event(event.id, event.eventId, event.data, event.timestamp);
    return {};
}

bool DBusMenuObject::AboutToShow(int) { return false; }

QList<int> DBusMenuObject::AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
    idErrors.clear();
    return {};
}

StatusNotifierItem::StatusNotifierItem(QObject* parent)
    : QObject(parent), sni_(*this), dbusMenu_(*this) {
    registerTypes();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // A watcher that appears, or a new one that takes the name over (a panel
    // restarting), gets the item again; one that goes leaves it unregistered.
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty())
                    setRegistered(false);
                else
                    registerWithWatcher();
            });
}

StatusNotifierItem::~StatusNotifierItem() { setVisible(false); }

void StatusNotifierItem::setIcon(const QIcon& icon) {
    icon_ = icon;
    if (exported_) emit sni_.NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& tip) {
    if (tip == toolTip_) return;
    toolTip_ = tip;
    if (exported_) {
        emit sni_.NewToolTip();
        emit sni_.NewTitle();
    }
}

void StatusNotifierItem::setMenu(QMenu* menu) { menu_ = menu; }

void StatusNotifierItem::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (visible) {
        const auto options = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                             QDBusConnection::ExportAllProperties;
        exported_ = bus.registerObject(kItemPath, &sni_, options) &&
                    bus.registerObject(kMenuPath, &dbusMenu_, options);
        if (exported_ && bus.interface()->isServiceRegistered(kWatcherService))
            registerWithWatcher();
    } else if (exported_) {
        bus.unregisterObject(kItemPath);
        bus.unregisterObject(kMenuPath);
        exported_ = false;
        setRegistered(false);
    }
}

void StatusNotifierItem::registerWithWatcher() {
    if (!exported_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, QStringLiteral("/StatusNotifierWatcher"), kWatcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    // The bus name of this connection: the watcher finds the item at the
    // usual path under it.
    call << bus.baseService();
    ++registering_;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        --registering_;
        registered_ = exported_ && !w->isError();
        emit stateChanged();
    });
    emit stateChanged();
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered == registered_) return;
    registered_ = registered;
    emit stateChanged();
}

}  // namespace zorvek::tray
