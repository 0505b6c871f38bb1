// SPDX-License-Identifier: MIT
#include "app/window_manager_hints.h"

#include <QGuiApplication>
#include <QWidget>

#if defined(ZORVEK_HAVE_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zorvek::app {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

Reply<xcb_get_property_reply_t> property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type) {
    return Reply<xcb_get_property_reply_t>(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr));
}

xcb_window_t windowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name) {
    const auto reply = property(c, window, name, XCB_ATOM_WINDOW);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

// The name the running window manager gives itself, by the EWMH check
// window, which must point to itself (a stale check window left by a window
// manager that is gone does not).
std::string windowManagerName(xcb_connection_t* c, xcb_window_t root) {
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    const xcb_window_t wm = windowProperty(c, root, check);
    if (wm == XCB_WINDOW_NONE || windowProperty(c, wm, check) != wm) return {};
    const auto name = property(c, wm, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"));
    if (!name || name->format != 8) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(name.get())),
                       static_cast<size_t>(xcb_get_property_value_length(name.get())));
}

}  // namespace

void prepareFixedWindow(QWidget& window) {
    // Only the xcb platform talks to an X server here (the offscreen
    // platform may offer the same interface without a connection).
    if (window.isVisible() || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 != nullptr ? x11->connection() : nullptr;
    if (c == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    if (!geometry) return;

    const xcb_atom_t typeName = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t toolbar = atom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR");
    std::vector<xcb_atom_t> types;
    if (const auto current = property(c, id, typeName, XCB_ATOM_ATOM);
        current && current->format == 32) {
        const auto* first = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        types.assign(first, first + xcb_get_property_value_length(current.get()) / 4);
    }
    std::vector<xcb_atom_t> wanted = types;
    std::erase(wanted, toolbar);
    if (windowManagerName(c, geometry->root) == "Openbox") wanted.insert(wanted.begin(), toolbar);
    if (wanted == types) return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, typeName, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(wanted.size()), wanted.data());
    xcb_flush(c);
}

}  // namespace zorvek::app

#else

namespace zorvek::app {

void prepareFixedWindow(QWidget&) {}

}  // namespace zorvek::app

#endif
