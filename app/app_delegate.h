#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"

class ContentView;
class PanelWindow;
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
    };

    explicit AppDelegate(Environment environment);
    ~AppDelegate() override;

    // Builds the content view (and with it the model and the controller), then the panel,
    // then the tray icon. Shows nothing.
    void applicationDidFinishLaunching();

    // A click on the tray icon. The token comes from the tray's activation, if it has one.
    void togglePopover(const QByteArray& activationToken = {});

    // Another launch asked the running program to come forward. Always answers true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows,
                                       const QByteArray& activationToken = {});

    StatusItem* statusItem() const { return m_statusItem.get(); }
    PanelWindow* popover() const { return m_popover.get(); }

private:
    // The tray icon is there to anchor the panel to.
    bool hasButton() const;
    void showInTray();
    void activateAndRequestFocus(const QByteArray& activationToken);

    Environment m_environment;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<PanelWindow> m_popover;
};
