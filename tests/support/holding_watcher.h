#pragma once

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QString>

// A StatusNotifierWatcher in the test's own process that takes an item's registration and sits
// on it, as the watcher in a hung panel does, until the test makes it answer. It says a host is
// there, so that an item it accepts is in a tray, and lists what it sits on as registered.
class HoldingWatcher : public QDBusVirtualObject {
public:
    // Takes the watcher's name on the bus at busAddress.
    explicit HoldingWatcher(const QString& busAddress);
    ~HoldingWatcher() override;
    HoldingWatcher(const HoldingWatcher&) = delete;
    HoldingWatcher& operator=(const HoldingWatcher&) = delete;

    // Registrations taken and not answered yet.
    int heldRegistrations() const { return static_cast<int>(m_held.size()); }

    // Answers the held registrations, accepting them or refusing them, and returns once each
    // item has taken its answer in: its answer to a question asked after it comes no sooner.
    void answer(bool accept);

    // Gives up the watcher's name and keeps what it holds, as a panel that restarts while it
    // hangs.
    void giveUpName();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QString m_connectionName;
    QList<QDBusMessage> m_held;
};
