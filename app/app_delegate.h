#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QTimer>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"

class ContentView;
class PanelWindow;
class QSystemTrayIcon;

// The program's presence on the desktop: the tray icon, whose click toggles the panel, and
// the panel itself. Every time it brings the panel up it activates it and then posts the
// focus request, on which the content view puts the keyboard into the number field.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Environment {
        FolderModelServices services;
        std::shared_ptr<DesktopOpener> opener;
        // Whether the desktop has a system tray to hold the icon.
        std::function<bool()> trayAvailable;
    };

    explicit AppDelegate(Environment environment);
    ~AppDelegate() override;

    // Builds the content view (and with it the model and the controller), then the panel,
    // then the tray icon. Shows nothing.
    void applicationDidFinishLaunching();

    // A click on the tray icon.
    void togglePopover();

    // Another launch asked the running program to come forward. Always answers true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows,
                                       const QByteArray& activationToken = {});

    QSystemTrayIcon* statusItem() const { return m_statusItem.get(); }
    PanelWindow* popover() const { return m_popover.get(); }

private:
    // The tray icon is there to anchor the panel to.
    bool hasButton() const;
    void showInTray();
    void activateAndRequestFocus(const QByteArray& activationToken);

    Environment m_environment;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<PanelWindow> m_popover;
    // Watches for a tray that turns up after launch, to show the icon then.
    QTimer m_trayWatch;
};
