#include "ui/window_fit.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

// How often a native dialog is checked, and for how long after it first shows: the toolkit
// that draws it may still settle its size after mapping it.
constexpr int nativeCheckIntervalMs = 100;
constexpr qint64 nativeSettleMs = 2000;
// How long to look for a native dialog that has not shown up.
constexpr qint64 nativeSearchMs = 10000;

int clampStart(int start, int length, int areaStart, int areaLength) {
    return std::clamp(start, areaStart, std::max(areaStart, areaStart + areaLength - length));
}

QRect availableAreaOf(const QWidget* panel) {
    const QScreen* screen = panel->screen();
    return screen ? screen->availableGeometry() : QRect();
}

void fitWidgetDialog(QDialog* dialog, const QRect& area) {
    const QRect frame = dialog->frameGeometry();
    const QRect target = fittedInto(frame, area);
    if (target == frame)
        return;
    const QSize decoration = frame.size() - dialog->geometry().size();
    dialog->resize(target.size() - decoration);
    dialog->move(target.topLeft());
}

// --- X11: a window that another toolkit made, known only by its X window id ----------------

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

struct X11 {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    // Device pixels per logical pixel of the panel's screen, and that screen's corner, which
    // Qt keeps in device pixels.
    qreal ratio = 1;
    QPoint origin;

    xcb_atom_t atom(const char* name) const {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr));
        return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }

    std::vector<uint32_t> values(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                 uint32_t count) const {
        if (property == XCB_ATOM_NONE)
            return {};
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, property, type, 0, count),
            nullptr));
        if (!reply || reply->format != 32)
            return {};
        const auto* first = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
        return {first, first + xcb_get_property_value_length(reply.get()) / 4};
    }

    // Left, right, top, bottom; zeros when the window has none.
    std::array<int, 4> extents(xcb_window_t window, const char* property) const {
        const auto found = values(window, atom(property), XCB_ATOM_CARDINAL, 4);
        if (found.size() != 4)
            return {0, 0, 0, 0};
        return {static_cast<int>(found[0]), static_cast<int>(found[1]), static_cast<int>(found[2]),
                static_cast<int>(found[3])};
    }

    bool isViewable(xcb_window_t window) const {
        const Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr));
        return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // The window's own rectangle in root coordinates, in device pixels.
    std::optional<QRect> rootGeometry(xcb_window_t window) const {
        const Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
        const Reply<xcb_translate_coordinates_reply_t> position(xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr));
        if (!geometry || !position)
            return std::nullopt;
        return QRect(position->dst_x, position->dst_y, geometry->width, geometry->height);
    }

    QRect toDevice(const QRect& logical) const {
        const QPointF topLeft = QPointF(origin) + QPointF(logical.topLeft() - origin) * ratio;
        return QRectF(topLeft, QSizeF(logical.size()) * ratio).toAlignedRect();
    }
};

std::optional<X11> x11For(const QWidget* panel) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    const auto* native = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!native || !native->connection())
        return std::nullopt;
    X11 x11;
    x11.connection = native->connection();
    x11.root = xcb_setup_roots_iterator(xcb_get_setup(x11.connection)).data->root;
    if (const QScreen* screen = panel->screen()) {
        x11.ratio = screen->devicePixelRatio();
        x11.origin = screen->geometry().topLeft();
    }
    return x11;
}

// The top-level window that another toolkit made for the panel: it names the panel as the
// window it belongs to, and it is none of Qt's own.
xcb_window_t foreignDialogOf(const X11& x11, xcb_window_t panel) {
    std::vector<uint32_t> own;
    for (const QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle())
            own.push_back(static_cast<uint32_t>(window->winId()));
    }
    // A window manager lists the windows it manages; without one they are the root's children.
    std::vector<uint32_t> candidates =
        x11.values(x11.root, x11.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 4096);
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x11.connection, xcb_query_tree(x11.connection, x11.root), nullptr));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        candidates.insert(candidates.end(), children,
                          children + xcb_query_tree_children_length(tree.get()));
    }
    for (const uint32_t window : candidates) {
        if (std::find(own.begin(), own.end(), window) != own.end())
            continue;
        const auto owner = x11.values(window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);
        if (owner.size() == 1 && owner[0] == panel && x11.isViewable(window))
            return window;
    }
    return XCB_WINDOW_NONE;
}

// Moves and shrinks the window so that what the user sees of it, its decoration included and
// its drawn shadow left out, lies within the area.
void fitForeignWindow(const X11& x11, xcb_window_t window, const QRect& area) {
    const std::optional<QRect> own = x11.rootGeometry(window);
    if (!own)
        return;
    const auto [frameLeft, frameRight, frameTop, frameBottom] =
        x11.extents(window, "_NET_FRAME_EXTENTS");
    const auto [shadowLeft, shadowRight, shadowTop, shadowBottom] =
        x11.extents(window, "_GTK_FRAME_EXTENTS");
    const QRect seen = own->adjusted(shadowLeft - frameLeft, shadowTop - frameTop,
                                     frameRight - shadowRight, frameBottom - shadowBottom);
    const QRect target = fittedInto(seen, area);
    if (target == seen)
        return;
    // With the usual north-west gravity the position asked for is that of the frame's corner,
    // or of the window's own when nothing frames it.
    const uint32_t configuration[] = {
        static_cast<uint32_t>(target.x() - shadowLeft),
        static_cast<uint32_t>(target.y() - shadowTop),
        static_cast<uint32_t>(
            std::max(1, target.width() - frameLeft - frameRight + shadowLeft + shadowRight)),
        static_cast<uint32_t>(
            std::max(1, target.height() - frameTop - frameBottom + shadowTop + shadowBottom)),
    };
    xcb_configure_window(x11.connection, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         configuration);
    xcb_flush(x11.connection);
}

void watchNativeDialog(QDialog* dialog, const QWidget* panel) {
    const std::optional<X11> x11 = x11For(panel);
    if (!x11)
        return;
    const auto panelWindow = static_cast<xcb_window_t>(panel->window()->winId());
    // The dialog's toolkit took the keyboard with server times that Qt has not seen, so the
    // server would refuse Qt's own request to take it back, made with the last time Qt knows.
    // A window manager gives it back to the panel by itself; without one, nothing would.
    QObject::connect(
        dialog, &QDialog::finished, dialog,
        [connection = x11->connection, panelWindow, panel = QPointer<const QWidget>(panel)] {
            if (!panel || !panel->isVisible())
                return;
            xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, panelWindow, XCB_CURRENT_TIME);
            xcb_flush(connection);
        });
    auto* timer = new QTimer(dialog);
    auto since = std::make_shared<QElapsedTimer>();
    auto seenAt = std::make_shared<std::optional<qint64>>();
    since->start();
    QObject::connect(timer, &QTimer::timeout, dialog, [=, panel = QPointer<const QWidget>(panel)] {
        const qint64 elapsed = since->elapsed();
        const bool done = *seenAt ? elapsed - **seenAt > nativeSettleMs : elapsed > nativeSearchMs;
        if (done || !panel || !dialog->isVisible()) {
            timer->deleteLater();
            return;
        }
        const xcb_window_t window = foreignDialogOf(*x11, panelWindow);
        if (window == XCB_WINDOW_NONE)
            return;
        if (!*seenAt)
            *seenAt = elapsed;
        fitForeignWindow(*x11, window, x11->toDevice(availableAreaOf(panel)));
    });
    timer->start(nativeCheckIntervalMs);
}

} // namespace

QRect fittedInto(const QRect& window, const QRect& area) {
    const QSize size = window.size().boundedTo(area.size());
    return {clampStart(window.x(), size.width(), area.x(), area.width()),
            clampStart(window.y(), size.height(), area.y(), area.height()), size.width(),
            size.height()};
}

void keepDialogOnScreen(QDialog* dialog, const QWidget* panel) {
    const QRect area = availableAreaOf(panel);
    if (area.isEmpty())
        return;
    // A native dialog leaves its Qt widget unshown and puts a window of its own on screen.
    if (dialog->testAttribute(Qt::WA_DontShowOnScreen))
        watchNativeDialog(dialog, panel);
    else
        fitWidgetDialog(dialog, area);
}
