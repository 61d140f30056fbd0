#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "platform/command_runner.h"
#include "platform/desktop_shortcut.h"
#include "platform/signal.h"
#include "platform/worker_thread.h"

class GlobalShortcutsPortal;
class MainThread;

// "Keyboard Shortcut…": gives the user a global shortcut that brings the panel up, in the way
// their desktop supports:
// - the desktop portal's global shortcuts (Plasma), whose own dialog lets the user pick the
//   key; the portal's session lasts as long as the program, and a press arrives as activated();
// - a custom shortcut that runs the program's command, in GNOME's or XFCE's own shortcut
//   settings, which are then opened so the user sees it and can change it;
// - elsewhere, the instructions for doing it by hand.
// The desktop's tools are run on a worker thread and the portal is asked without waiting, so
// a desktop that does not answer never holds the panel up.
class ShortcutSetup : public QObject {
    Q_OBJECT
public:
    enum class Desktop { gnome, xfce, other };

    struct Environment {
        // XDG_CURRENT_DESKTOP.
        QString currentDesktop;
        // What the shortcut runs.
        QString command = QStringLiteral("zorvant");
        RunCommand run = [](const std::string& program, const std::vector<std::string>& arguments) {
            return runCommand(program, arguments);
        };
        StartThread startThread = startDetachedThread;
        // Starts a settings program without waiting for it; false when it could not be started.
        std::function<bool(const QString& program, const QStringList& arguments)> startSettings;
        // Where the desktop portal is: empty for the session bus; "none" for no portal.
        QString portalBus;
        // How long the portal may take to say whether it offers global shortcuts before the
        // desktop's own settings are used instead.
        std::chrono::milliseconds portalPatience{3000};
    };

    explicit ShortcutSetup(Environment environment, QObject* parent = nullptr);
    ~ShortcutSetup() override;

    static Desktop desktopFrom(const QString& currentDesktop);

    // Asks the portal, without showing anything, whether an earlier run bound the shortcut, so
    // that it works again from the start.
    void start();

    // The user asked for the shortcut. The answer comes as answered() or instructionsNeeded().
    void setUp();

    // A set-up is under way; another request meanwhile is the same one, but for the portal's
    // dialog, which is asked for again.
    bool isBusy() const { return m_busy; }

    // The name of the shortcut, as the desktop's settings list it.
    static QString shortcutName();

Q_SIGNALS:
    // One line for the panel: what the shortcut is now, or why there is none. settingsOpened:
    // the desktop's keyboard settings were opened to show it.
    void answered(const QString& line, bool failed, bool settingsOpened = false);
    // This desktop has no way for a program to set a shortcut up: show the user how.
    void instructionsNeeded();
    // The portal's shortcut was pressed.
    void activated(const QByteArray& activationToken);
    // The last answer said there was no key, and a key has been set in the desktop's settings
    // since: the line is wrong now.
    void answerWithdrawn();

private:
    void setUpNow();
    void setUpInDesktopSettings();
    void settingsAnswered(Desktop desktop, const DesktopShortcut& shortcut);
    void portalStateChanged();
    QString openSettings(Desktop desktop);

    Environment m_environment;
    std::shared_ptr<MainThread> m_mainThread;
    std::unique_ptr<GlobalShortcutsPortal> m_portal;
    Connection m_portalStates;
    Connection m_portalActivations;
    // While the portal has not said whether it offers global shortcuts, a request waits for it,
    // but not for ever.
    QTimer m_portalPatience;
    bool m_waitingForPortal = false;
    bool m_bindingThroughPortal = false;
    bool m_busy = false;
    bool m_saidNoKey = false;
};
