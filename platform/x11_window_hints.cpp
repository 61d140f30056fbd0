#include "platform/x11_window_hints.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWindow>

namespace {

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace

void keepOutOfTaskLists(QWindow* window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");

    // Qt adds its own states to the property when it maps the window, keeping what is there.
    std::vector<xcb_atom_t> states;
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024),
                               nullptr),
        &std::free);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        states.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
    }
    for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                             "_KDE_NET_WM_STATE_SKIP_SWITCHER"}) {
        const xcb_atom_t wanted = atom(connection, name);
        if (wanted != XCB_ATOM_NONE &&
            std::find(states.begin(), states.end(), wanted) == states.end())
            states.push_back(wanted);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

void passStartupId(QWindow* window, std::string_view startupId) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window || startupId.empty())
        return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()),
                        atom(connection, "_NET_STARTUP_ID"), atom(connection, "UTF8_STRING"), 8,
                        static_cast<uint32_t>(startupId.size()), startupId.data());
    xcb_flush(connection);
}

std::optional<bool> hasX11KeyboardFocus(QWindow* window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window)
        return std::nullopt;
    const std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr),
        &std::free);
    return reply && reply->focus == static_cast<xcb_window_t>(window->winId());
}
