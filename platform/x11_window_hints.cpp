#include "platform/x11_window_hints.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
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

// Passes the X server's structure events on, once the event is through: Qt has then taken in
// the new geometry, and a round trip of the observer's own cannot interleave with its reading.
class WindowChangeFilter : public QObject, public QAbstractNativeEventFilter {
public:
    explicit WindowChangeFilter(std::function<void()> changed)
        : QObject(QCoreApplication::instance()), m_changed(std::move(changed)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    // Takes effect at once, a call already queued included, though the observer may be the one
    // stopping it, from inside its call: the filter itself goes once the loop is back.
    void stop() {
        m_stopped = true;
        QCoreApplication::instance()->removeNativeEventFilter(this);
        deleteLater();
    }

    // Qt names the events of its xcb platform so (checked against Qt 6.4.2); the window
    // changes test fails should it stop.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t" || m_pending)
            return false;
        switch (static_cast<const xcb_generic_event_t*>(message)->response_type & 0x7f) {
        case XCB_MAP_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        // Qt learns from the tray's XEMBED message that the icon is embedded, and only then
        // asks the server where it is.
        case XCB_CLIENT_MESSAGE:
            m_pending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_pending = false;
                    if (!m_stopped)
                        m_changed();
                },
                Qt::QueuedConnection);
            break;
        default:
            break;
        }
        return false;
    }

private:
    std::function<void()> m_changed;
    bool m_pending = false;
    bool m_stopped = false;
};

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

Connection observeX11WindowChanges(std::function<void()> changed) {
    if (!x11Connection())
        return {};
    auto* filter = new WindowChangeFilter(std::move(changed));
    return Connection([filter = QPointer<WindowChangeFilter>(filter)] {
        if (filter)
            filter->stop();
    });
}
