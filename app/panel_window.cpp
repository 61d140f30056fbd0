#include "app/panel_window.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app/panel_placement.h"
#include "app/windowing_platform.h"
#include "platform/x11_window_hints.h"
#include "ui/accessible_role.h"
#include "ui/content_view.h"

namespace {

// A click that lands this soon after the panel closed itself is the one that closed it.
constexpr qint64 deactivationClickWindowMs = 350;
// How long, at most, the activation takes to come back from a closed dialog.
constexpr int dialogHandOverMs = 1000;
// How long after a quick hide and show the focus-out of the hide may still arrive, and how long
// the keyboard then has to come back before the panel counts as deactivated after all.
constexpr qint64 leftoverDeactivationWindowMs = 2000;
constexpr int focusReturnMs = 1000;

} // namespace

PanelWindow::PanelWindow(ContentView* content)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), m_content(content) {
    // Screen readers announce a dialog by its name when it comes up; to them a plain widget
    // window is a filler. First, before anything asks what the panel is.
    setAccessibleRole(this, QAccessible::Dialog);
    setObjectName(QStringLiteral("panel"));
    setWindowTitle(QStringLiteral("Dockets"));
    setAccessibleName(QStringLiteral("Dockets"));
    setFixedSize(panelSize);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    content->setParent(this);
    layout->addWidget(content);

    connect(content, &ContentView::folderChooserShown, this, [this] { m_ownDialogUp = true; });
    connect(content, &ContentView::folderChooserClosed, this, [this] {
        // Back to the panel, with the keyboard where it was before the chooser came up.
        // Closing on deactivation stays suspended until the panel has the activation back,
        // so that the hand-over from the chooser does not close it.
        if (!isVisible())
            showRelativeTo(std::nullopt);
        activate();
        QTimer::singleShot(dialogHandOverMs, this, [this] { m_ownDialogUp = false; });
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &PanelWindow::applicationStateChanged);
}

void PanelWindow::showRelativeTo(const std::optional<QRect>& anchor) {
    std::optional<QPoint> cursor;
    // The cursor position means something only where the windowing system reports it: not on
    // Wayland, and not on XWayland either, which knows it only while it is over an X window.
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !isWaylandSession())
        cursor = QCursor::pos();

    QScreen* screen = nullptr;
    if (isUsableAnchor(anchor))
        screen = QGuiApplication::screenAt(anchor->center());
    else if (cursor)
        screen = QGuiApplication::screenAt(*cursor);
    if (!screen) {
        // Neither places the panel on a screen; centre it rather than guess.
        screen = QGuiApplication::primaryScreen();
        if (!isUsableAnchor(anchor))
            cursor.reset();
    }
    const QRect area = availableArea(screen);
    const QSize fitted = panelSizeWithin(panelSize, area, anchor, cursor);
    setFixedSize(fitted);
    placeAndShow(panelPosition(fitted, area, anchor, cursor));
}

void PanelWindow::showCentred() {
    const QRect area = availableArea(QGuiApplication::primaryScreen());
    const QSize fitted = panelSizeWithin(panelSize, area, std::nullopt, std::nullopt);
    setFixedSize(fitted);
    placeAndShow(panelPosition(fitted, area, std::nullopt, std::nullopt));
}

QRect PanelWindow::availableArea(const QScreen* screen) {
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), panelSize);
}

void PanelWindow::placeAndShow(const QPoint& position) {
    move(position);
    ++m_showings;
    // The native window exists before it is shown, so that it is mapped as a panel.
    winId();
    keepOutOfTaskLists(windowHandle());
    show();
}

void PanelWindow::activate(const QByteArray& activationToken) {
    // On X11 (XWayland included) the token travels as the startup id. Qt's Wayland platform
    // takes it from the environment alone; there it is set, only there, into the slot that
    // start-up made while the program was single-threaded (see reserveActivationTokenSlot), so
    // that no other thread's getenv ever meets a reallocated environment.
    const bool throughEnvironment =
        !activationToken.isEmpty() && QGuiApplication::platformName() == QLatin1String("wayland");
    if (throughEnvironment)
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    passStartupId(windowHandle(),
                  std::string_view(activationToken.constData(),
                                   static_cast<std::size_t>(activationToken.size())));
    raise();
    activateWindow();
    // Hidden and shown again before the X server has moved the focus away, the panel keeps the
    // focus, but Qt 6.4 forgets that its widgets have it: no cursor, no focus frame.
    if (QGuiApplication::focusWindow() == windowHandle() && !isActiveWindow()) {
        QApplication::setActiveWindow(this);
        // The focus-out of that hide is still on its way; it must not close the panel now.
        m_leftoverDeactivation.start();
    }
    if (throughEnvironment)
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray());
    Q_EMIT activated();
}

void PanelWindow::performClose() {
    hide();
}

bool PanelWindow::justClosedOnDeactivation() const {
    return m_closedOnDeactivation.isValid() &&
           m_closedOnDeactivation.elapsed() < deactivationClickWindowMs;
}

void PanelWindow::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive || !isVisible() || m_ownDialogUp)
        return;
    // Qt 6.4 on X11 can report a deactivation left over from the last hide (the focus moved out
    // and in while the window was being unmapped) just after the panel came back with the
    // keyboard: the X server's word counts, and the widgets are told again.
    if (hasX11KeyboardFocus(windowHandle()).value_or(false)) {
        QApplication::setActiveWindow(this);
        return;
    }
    // On XWayland the focus-out of a quick hide and show can arrive after the show, before the
    // compositor hands the keyboard back: the panel closes only if the keyboard stays away.
    if (m_leftoverDeactivation.isValid() &&
        m_leftoverDeactivation.elapsed() < leftoverDeactivationWindowMs) {
        m_leftoverDeactivation.invalidate();
        QTimer::singleShot(focusReturnMs, this, [this, showing = m_showings] {
            if (showing == m_showings && isVisible() && !m_ownDialogUp &&
                QGuiApplication::applicationState() != Qt::ApplicationActive)
                closeOnDeactivation();
        });
        return;
    }
    closeOnDeactivation();
}

void PanelWindow::closeOnDeactivation() {
    m_closedOnDeactivation.start();
    hide();
}

bool PanelWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !m_content->folderChooser())
        m_ownDialogUp = false;
    return QWidget::event(event);
}

void PanelWindow::paintEvent(QPaintEvent*) {
    // A frameless window needs an edge of its own to stand out from what lies behind it.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        performClose();
        return;
    }
    QWidget::keyPressEvent(event);
}
