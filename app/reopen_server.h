#pragma once

#include <vector>

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The running instance's side of the reopen requests: serves the listening socket that the
// launch made (see SingleInstance) on the event loop, answers "ok" to each request and
// announces it. Anything that is not a request is hung up on without an answer; a client
// that says nothing is dropped after a while, and never holds up the others.
//
// The path from an accepted connection to the announcement does no file-system work and no
// D-Bus call: a request usually arrives with its connection and is handled at once.
class ReopenServer : public QObject {
    Q_OBJECT
public:
    // listeningSocket stays the caller's, and must outlive this server.
    explicit ReopenServer(int listeningSocket, QObject* parent = nullptr);
    ~ReopenServer() override;

Q_SIGNALS:
    void reopenRequested(const QByteArray& activationToken);

private:
    class Client;

    void acceptClients();
    // Reads what the client sent; true once it is done with, either way.
    bool serve(Client* client);
    void drop(Client* client);

    int m_listeningSocket;
    QSocketNotifier* m_incoming;
    // The connections still open, oldest first.
    std::vector<Client*> m_clients;
};
