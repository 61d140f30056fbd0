#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include "app/activation_policy.h"
#include "app/shortcut_setup.h"
#include "model/folder_model.h"
#include "platform/desktop_opener.h"
#include "platform/signal.h"

class ContentView;
class PanelWindow;
class ShortcutInstructions;
class StatusItem;

// The program's presence on the desktop: the tray icon, whose click toggles the panel and whose
// menu shows it, and the panel itself. Every time it brings the panel up it activates it and then
// posts the focus request, on which the content view puts the keyboard into the number field.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Environment {
        FolderModelServices services;
        std::shared_ptr<DesktopOpener> opener;
        // The D-Bus address where StatusNotifierItem trays are; empty for the session bus.
        QString statusNotifierBus;
        // What times a double click on the tray icon and the panel's focus rules.
        ActivationPolicy::Clock clock = std::chrono::steady_clock::now;
        // How "Keyboard Shortcut…" reaches the desktop.
        ShortcutSetup::Environment shortcuts;
    };

    explicit AppDelegate(Environment environment);
    ~AppDelegate() override;

    // Builds the content view (and with it the model and the controller), then the panel,
    // then the tray icon. Shows nothing.
    void applicationDidFinishLaunching();
    // A launch that the user asked for: the panel comes up once the desktop has said whether
    // a tray took the icon, by the icon when the tray tells where it is, centred otherwise.
    // The token is the desktop's activation token for the launch, if it had one.
    void showPanelAtLaunch(const QByteArray& activationToken = {});

    // A click on the tray icon. The token comes from the tray's activation, if it has one.
    void togglePopover(const QByteArray& activationToken = {});

    // Another launch asked the running program to come forward. Always answers true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows,
                                       const QByteArray& activationToken = {});

    // "Keyboard Shortcut…", from the tray's menu or the panel.
    void setUpShortcut();

    StatusItem* statusItem() const { return m_statusItem.get(); }
    PanelWindow* popover() const { return m_popover.get(); }
    ShortcutSetup* shortcuts() const { return m_shortcuts.get(); }
    ShortcutInstructions* shortcutInstructions() const { return m_instructions.get(); }

Q_SIGNALS:
    // The shortcut the desktop portal keeps for the program was pressed: the same as a second
    // launch, with the portal's activation token.
    void shortcutPressed(const QByteArray& activationToken);

private:
    // The tray icon is there to anchor the panel to.
    bool hasButton() const;
    void showInTray();
    void showAtLaunchNow();
    // Whether the launch's panel is to wait (on) for a new XEmbed icon to be put in its place.
    bool waitForIconPlace();
    void stopWaitingForIconPlace();
    // A tray that has just taken a new icon in may still size or move it (and moves it again
    // when another icon leaves): the panel a launch showed by it keeps to it until it closes.
    void followIcon(const QRect& placedBy);
    // Says on the panel how to bring it back, where no tray icon does.
    void noteTray();
    void activateAndRequestFocus(const QByteArray& activationToken);
    void showShortcutInstructions();

    Environment m_environment;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<PanelWindow> m_popover;
    std::unique_ptr<ShortcutSetup> m_shortcuts;
    std::unique_ptr<ShortcutInstructions> m_instructions;
    bool m_showWhenSettled = false;
    // While the launch's panel waits for a new icon to be put in its place: a reopen meanwhile
    // joins it (with its token) rather than open the panel where the icon was on its way.
    bool m_waitingForIconPlace = false;
    // The wait has run its time: the panel shows wherever the icon is said to be.
    bool m_iconPlaceWaitOver = false;
    Connection m_iconChanges;
    QTimer m_iconPlacePatience;
    Connection m_iconFollowing;
    QRect m_followedIcon;
    QByteArray m_launchToken;
};
