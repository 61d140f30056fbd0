#pragma once

#include <memory>

#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// Keeps Zorvant to one running instance per user. The first launch holds a lock and listens
// on a local socket in the user's runtime folder; a later launch finds the lock taken, sends
// a reopen request over the socket and exits.
//
// The request is one line: "reopen", or "reopen <activation token>". Anything else is
// ignored, and a client that says nothing is dropped after a short while.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, secondary };

    // runtimeFolder: where the lock and the socket live; by default the user's private
    // runtime folder ($XDG_RUNTIME_DIR).
    explicit SingleInstance(const QString& runtimeFolder = {});
    ~SingleInstance() override;

    // Takes the lock and starts listening (primary), or finds another instance (secondary).
    Role claim();

    // From a secondary instance: asks the primary to reopen. False if it did not answer.
    bool sendReopen(const QByteArray& activationToken);

    QString socketPath() const { return m_socketPath; }

Q_SIGNALS:
    void reopenRequested(const QByteArray& activationToken);

private:
    void acceptConnections();

    QString m_socketPath;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
