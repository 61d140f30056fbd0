#pragma once

#include <functional>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "support/private_bus.h"

// A StatusNotifierItem tray for tests, on a D-Bus daemon of the test's own: the test watcher
// (status_notifier_watcher.py, beside this file), which can be started, stopped and
// started again, and the calls a tray host makes on an item. Calls wait in the event loop,
// since the item under test answers from this same thread.
class TrayHost {
public:
    TrayHost();
    ~TrayHost();
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    QString busAddress() const { return m_address; }

    // Starts the watcher, with a host registered or not, and waits until it has its name.
    void startWatcher(bool withHost = true);
    void stopWatcher();

    // What the watcher holds: the items registered with it.
    QStringList registeredItems();

    // A method call, waited for; the answer, or the error.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {});
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name);

private:
    // First: it goes last.
    PrivateBus m_bus;
    QString m_address;
    QString m_connectionName;
    QProcess m_watcher;
};

// Runs the event loop until the condition holds, for at most ten seconds; whether it held.
bool waitUntil(const std::function<bool()>& condition);
