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

PanelWindow::PanelWindow(ContentView* content, std::shared_ptr<ActivationPolicy> policy)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), m_content(content),
      m_focus(std::move(policy)) {
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

    connect(content, &ContentView::folderChooserShown, this, [this] { m_focus->chooserShown(); });
    connect(content, &ContentView::folderChooserClosed, this, [this] {
        // Back to the panel, with the keyboard where it was before the chooser came up.
        m_focus->chooserClosed();
        if (!isVisible())
            showRelativeTo(std::nullopt);
        activate();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &PanelWindow::applicationStateChanged);
}

void PanelWindow::showRelativeTo(const std::optional<QRect>& anchor) {
    const QRect placed = placementBy(anchor);
    setFixedSize(placed.size());
    placeAndShow(placed.topLeft());
}

void PanelWindow::moveRelativeTo(const std::optional<QRect>& anchor) {
    if (!isVisible())
        return;
    const QRect placed = placementBy(anchor);
    setFixedSize(placed.size());
    move(placed.topLeft());
}

QRect PanelWindow::placementBy(const std::optional<QRect>& anchor) const {
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
    return {panelPosition(fitted, area, anchor, cursor), fitted};
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
        m_focus->reshownQuickly();
    }
    if (throughEnvironment)
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray());
    Q_EMIT activated();
}

void PanelWindow::performClose() {
    hide();
}

bool PanelWindow::justClosedOnDeactivation() const {
    return m_focus->isTheClosingClick();
}

void PanelWindow::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive || !isVisible() || m_focus->isChoosersHandOver())
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
    if (m_focus->takeLeftoverDeactivation()) {
        QTimer::singleShot(ActivationPolicy::keyboardReturn, this, [this, showing = m_showings] {
            if (showing == m_showings && isVisible() && !m_focus->isChoosersHandOver() &&
                QGuiApplication::applicationState() != Qt::ApplicationActive)
                closeOnDeactivation();
        });
        return;
    }
    closeOnDeactivation();
}

void PanelWindow::closeOnDeactivation() {
    m_focus->closedOnDeactivation();
    hide();
}

bool PanelWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        m_focus->activated();
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
