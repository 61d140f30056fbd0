#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include "app/activation_policy.h"
#include "platform/signal.h"

class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;

// The program's icon in whichever tray the desktop has, never in two at once: its own
// StatusNotifierItem over D-Bus (Plasma, XFCE, GNOME with the AppIndicator extension), else, on
// an X server, Qt's XEmbed icon (trayer, LXDE, older panels). Either one comes as soon as its
// tray does, and again when the tray restarts. A click on the icon toggles the panel; its menu
// leads to the panel too, and to a keyboard shortcut for it.
//
// Qt's QSystemTrayIcon speaks StatusNotifierItem itself when a host was there the first time
// the process made one, and then for good. So it is made only on an X server, at a moment when
// no host is there: Qt settles on XEmbed, and XEmbed is all it is ever used for.
class StatusItem : public QObject {
    Q_OBJECT
public:
    // statusNotifierBus: the D-Bus address where StatusNotifierItem trays are; empty for the
    // session bus. The policy, shared with the panel, times double clicks.
    explicit StatusItem(
        const QString& statusNotifierBus = {},
        std::shared_ptr<ActivationPolicy> policy = std::make_shared<ActivationPolicy>());
    ~StatusItem() override;

    // Puts the icon into a tray: as soon as the desktop says one is there, otherwise when one
    // comes. Returns at once; settled() follows once the desktop has answered.
    void show();

    // Whether a tray shows the icon now.
    bool isInTray() const;

    // Whether the desktop has answered since show(), so that isInTray() says whether a tray is
    // there rather than that nobody has said yet.
    bool isSettled() const;

    // Where the icon is, as far as the tray says: XEmbed's icon rectangle, or the point a
    // StatusNotifierItem host passed with its last click. None when neither is known.
    std::optional<QRect> anchor() const;

Q_SIGNALS:
    // A click on the icon: a left click, or a double click, whichever way the tray sends it.
    // The token is the one a StatusNotifierItem host passed along for Wayland, if any.
    void clicked(const QByteArray& activationToken);
    // The menu's entry that shows the panel, or the second half of a double click on the
    // XEmbed icon.
    void showRequested();
    // The menu's "Keyboard Shortcut…".
    void shortcutRequested();
    // isSettled() became true; once.
    void settled();

private:
    void awaitSecondHalf();
    void endGesture();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void followTrays();
    void makeXEmbedIcon();

    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<StatusNotifierItem> m_statusNotifierItem;
    std::unique_ptr<QSystemTrayIcon> m_xembedIcon;
    // Set once Qt turns out to speak StatusNotifierItem itself: its icon is then never shown.
    bool m_qtTrayIsStatusNotifier = false;
    std::optional<QPoint> m_lastClick;
    // The second Activate of a double click, which most trays send as two; GNOME's only for
    // its first gesture on an icon.
    bool m_firstGestureSeen = false;
    std::shared_ptr<ActivationPolicy> m_policy;
    Connection m_activations;
    Connection m_contextMenuRequests;
    Connection m_trayChanges;
    Connection m_settling;
};
