#include "app/reopen_server.h"

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "reopen/program_files.h"
#include "reopen/reopen_request.h"

namespace {

constexpr int silentClientTimeoutMs = 2000;
// Connections held open at most; beyond these the oldest is hung up on, so that a flood of
// silent clients can neither use up descriptors nor shut a real request out.
constexpr std::size_t maximumClients = 32;
// After running out of descriptors, the pause before accepting again.
constexpr int acceptPauseMs = 100;

} // namespace

// One connection, from its acceptance until it is hung up on.
class ReopenServer::Client : public QObject {
public:
    Client(int fd, QObject* parent) : QObject(parent), fd(fd), readable(fd, QSocketNotifier::Read) {
        silence.setSingleShot(true);
        silence.start(silentClientTimeoutMs);
    }
    ~Client() override {
        readable.setEnabled(false);
        ::close(fd);
    }

    const int fd;
    bool dropped = false;
    std::string received;
    QSocketNotifier readable;
    QTimer silence;
};

ReopenServer::ReopenServer(int listeningSocket, std::function<bool()> replacedOnDisk,
                           QObject* parent)
    : QObject(parent), m_listeningSocket(listeningSocket),
      m_replacedOnDisk(replacedOnDisk ? std::move(replacedOnDisk) : std::function<bool()>([] {
          return ProgramFiles::replaced(::getpid());
      })),
      m_incoming(new QSocketNotifier(listeningSocket, QSocketNotifier::Read, this)) {
    connect(m_incoming, &QSocketNotifier::activated, this, &ReopenServer::acceptClients);
}

ReopenServer::~ReopenServer() = default;

void ReopenServer::acceptClients() {
    for (;;) {
        const int fd = ::accept4(m_listeningSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                m_incoming->setEnabled(false);
                QTimer::singleShot(acceptPauseMs, this, [this] { m_incoming->setEnabled(true); });
            }
            return;
        }
        if (m_clients.size() >= maximumClients)
            drop(m_clients.front());
        auto* client = new Client(fd, this);
        m_clients.push_back(client);
        // The request usually came with the connection: no need to wait for another round.
        if (serve(client))
            continue;
        // Still waiting for it.
        connect(&client->readable, &QSocketNotifier::activated, client,
                [this, client] { serve(client); });
        connect(&client->silence, &QTimer::timeout, client, [this, client] { drop(client); });
    }
}

bool ReopenServer::serve(Client* client) {
    char buffer[512];
    for (;;) {
        const ssize_t count = ::recv(client->fd, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return false;
        if (count <= 0)
            break;
        client->received.append(buffer, static_cast<std::size_t>(count));
        const auto end = client->received.find('\n');
        if (end == std::string::npos) {
            if (client->received.size() >= maximumReopenRequestBytes)
                break;
            continue;
        }
        const std::optional<ReopenRequest> request =
            parseReopenRequest(std::string_view(client->received).substr(0, end));
        if (!request)
            break;
        const bool replaced = request->version >= 2 && m_replacedOnDisk();
        const std::string_view answer = replaced                ? replacedAnswerV2
                                        : request->version >= 2 ? reopenAnswerV2
                                                                : reopenAnswer;
        [[maybe_unused]] const auto sent =
            ::send(client->fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        drop(client);
        if (replaced)
            Q_EMIT replacedOnDisk();
        else
            Q_EMIT reopenRequested(QByteArray::fromStdString(request->activationToken));
        return true;
    }
    drop(client);
    return true;
}

void ReopenServer::drop(Client* client) {
    if (client->dropped)
        return;
    client->dropped = true;
    client->readable.setEnabled(false);
    client->silence.stop();
    std::erase(m_clients, client);
    client->deleteLater();
}
