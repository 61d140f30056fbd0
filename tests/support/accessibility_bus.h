#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include "support/temp_dir.h"

// A session bus of the test's own with the accessibility bus on it, as a desktop has for
// screen readers: at-spi-bus-launcher, which starts the accessibility registry when it is first
// asked for. A program joins it through environment(); its sockets stay in a runtime folder
// of its own, so that runs side by side share nothing.
class AccessibilityBus {
public:
    // Starts both and returns once the accessibility bus is on the session bus.
    AccessibilityBus();
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    // Whether the accessibility bus came; what the launcher said if it did not.
    bool isRunning() const { return m_running; }
    QString launcherOutput();

    // The given environment, on this session bus and runtime folder.
    QProcessEnvironment environment(QProcessEnvironment base) const;

private:
    TempDir m_runtime;
    QProcess m_daemon;
    QProcess m_launcher;
    QString m_address;
    bool m_running = false;
};
