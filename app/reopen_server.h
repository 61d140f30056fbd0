#pragma once

#include <functional>
#include <vector>

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The running instance's side of the reopen requests: serves the listening socket that the
// launch made (see SingleInstance) on the event loop, answers "ok" to each request and
// announces it. A version 2 request is first told whether this program was replaced on disk
// (an upgrade); then nothing is shown, and the instance is asked to end so that the launch can
// start the new program. A version 1 request, from a launcher that would not know what to do
// with that, always gets its panel. Anything that is not a request is hung up on without an answer;
// a client that says nothing is dropped after a while, and never holds up the others.
//
// The path from an accepted connection to the announcement does no file-system work and no
// D-Bus call: a request usually arrives with its connection and is handled at once.
class ReopenServer : public QObject {
    Q_OBJECT
public:
    // listeningSocket stays the caller's, and must outlive this server. replacedOnDisk: whether
    // this program was replaced; by default, what ProgramFiles says of this process.
    explicit ReopenServer(int listeningSocket, std::function<bool()> replacedOnDisk = {},
                          QObject* parent = nullptr);
    ~ReopenServer() override;

Q_SIGNALS:
    void reopenRequested(const QByteArray& activationToken);
    // A launch of the new program waits for this instance to end and let the lock go.
    void replacedOnDisk();

private:
    class Client;

    void acceptClients();
    // Reads what the client sent; true once it is done with, either way.
    bool serve(Client* client);
    void drop(Client* client);

    int m_listeningSocket;
    std::function<bool()> m_replacedOnDisk;
    QSocketNotifier* m_incoming;
    // The connections still open, oldest first.
    std::vector<Client*> m_clients;
};
