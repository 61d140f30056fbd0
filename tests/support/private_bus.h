#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A D-Bus daemon of the test's own, and a connection of the test's to it. Nothing on it is
// started on demand: a name is there only when the test put it there, whatever services the
// machine has installed (a desktop portal, a settings store).
class PrivateBus {
public:
    // connectionPrefix names the test's connection, numbered per bus.
    explicit PrivateBus(const QString& connectionPrefix);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QString address() const { return m_address; }
    QString connectionName() const { return m_connectionName; }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QString m_connectionName;
};
