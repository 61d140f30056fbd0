#include "app/single_instance.h"

#include <algorithm>

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "platform/log.h"

namespace {

constexpr qsizetype maximumRequestBytes = 4096;
constexpr int silentClientTimeoutMs = 2000;
constexpr int connectAttempts = 20;
constexpr int connectTimeoutMs = 250;

QString folderOrDefault(const QString& runtimeFolder) {
    if (!runtimeFolder.isEmpty())
        return runtimeFolder;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

} // namespace

SingleInstance::SingleInstance(const QString& runtimeFolder)
    : m_socketPath(QDir(folderOrDefault(runtimeFolder)).filePath(QStringLiteral("zorvant.socket"))),
      m_lock(QDir(folderOrDefault(runtimeFolder)).filePath(QStringLiteral("zorvant.lock"))) {}

SingleInstance::~SingleInstance() {
    if (m_server)
        m_server->close();
}

SingleInstance::Role SingleInstance::claim() {
    // A lock left by a process that no longer runs counts as stale and is taken over.
    if (!m_lock.tryLock(0))
        return Role::secondary;

    // Holding the lock, any socket file left here belongs to a crashed instance.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        diagnostic("Zorvant: cannot listen for reopen requests: " +
                   m_server->errorString().toStdString());
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return Role::primary;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* client = m_server->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // Nobody holds the interface up: a client that stays silent is simply dropped.
        QTimer::singleShot(silentClientTimeoutMs, client, [client] { client->abort(); });
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                if (client->bytesAvailable() > maximumRequestBytes)
                    client->abort();
                return;
            }
            QByteArray line = client->readLine(maximumRequestBytes);
            client->disconnectFromServer();
            // A line longer than a request can be arrives cut short: not a request of ours.
            if (!line.endsWith('\n'))
                return;
            line = line.trimmed();
            if (line == "reopen") {
                Q_EMIT reopenRequested({});
            } else if (line.startsWith("reopen ")) {
                const QByteArray token = line.mid(7).trimmed();
                // Tokens are printable ASCII; anything else is not a request of ours.
                const bool printable = std::all_of(token.begin(), token.end(),
                                                   [](char c) { return c > ' ' && c < 0x7f; });
                if (printable)
                    Q_EMIT reopenRequested(token);
            }
        });
    }
}

bool SingleInstance::sendReopen(const QByteArray& activationToken) {
    QByteArray request = "reopen";
    if (!activationToken.isEmpty())
        request += ' ' + activationToken;
    request += '\n';

    // The running instance may hold the lock but still be starting up: try for a while.
    for (int attempt = 0; attempt < connectAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(connectTimeoutMs)) {
            socket.write(request);
            const bool sent = socket.waitForBytesWritten(connectTimeoutMs);
            socket.disconnectFromServer();
            if (sent)
                return true;
        }
        QThread::msleep(connectTimeoutMs / 2);
    }
    return false;
}
