#pragma once

#include <memory>
#include <optional>

#include <QSize>
#include <QWidget>

#include "app/activation_policy.h"

class ContentView;
class QScreen;

// The popover: a frameless tool window of 420 × 420 around the content view, smaller where
// the screen's available area is (its content then scrolls). It closes itself when the
// application loses activation, except while one of its own dialogs is up.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize panelSize{420, 420};

    // The policy, shared with the tray icon, times the windows of the panel's focus rules.
    explicit PanelWindow(ContentView* content, std::shared_ptr<ActivationPolicy> policy =
                                                   std::make_shared<ActivationPolicy>());

    ContentView* contentView() const { return m_content; }
    bool isShown() const { return isVisible(); }

    // Shows the panel by the anchor (the tray icon's rectangle) when it is usable, or by the
    // cursor, or centred.
    void showRelativeTo(const std::optional<QRect>& anchor);
    // Places the shown panel by the anchor again, as showRelativeTo() would.
    void moveRelativeTo(const std::optional<QRect>& anchor);
    // Shows the panel centred on the primary screen.
    void showCentred();
    // Raises the panel and gives it the keyboard. A token from the desktop's activation
    // protocol, when there is one, lets Wayland compositors grant the focus.
    void activate(const QByteArray& activationToken = {});
    void performClose();

    // Whether the panel closed itself on deactivation a moment ago: a click on the tray icon
    // that took the activation away is then the click that closed it, not one to reopen it.
    bool justClosedOnDeactivation() const;

Q_SIGNALS:
    void activated();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect placementBy(const std::optional<QRect>& anchor) const;
    void placeAndShow(const QPoint& position);
    static QRect availableArea(const QScreen* screen);
    void applicationStateChanged(Qt::ApplicationState state);
    void closeOnDeactivation();

    ContentView* m_content;
    std::shared_ptr<ActivationPolicy> m_focus;
    quint64 m_showings = 0;
};
