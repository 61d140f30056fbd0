#include "support/holding_watcher.h"

#include <algorithm>
#include <utility>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QStringList>
#include <QThread>

#include "support/tray_host.h"

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

HoldingWatcher::HoldingWatcher(const QString& busAddress) {
    static int count = 0;
    m_connectionName = QStringLiteral("holding-watcher-%1").arg(++count);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    connection.registerVirtualObject(watcherPath, this);
    connection.registerService(watcherService);
}

HoldingWatcher::~HoldingWatcher() {
    QDBusConnection(m_connectionName).unregisterObject(watcherPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void HoldingWatcher::answer(bool accept) {
    const QDBusConnection connection(m_connectionName);
    QList<QDBusPendingCall> readBacks;
    for (const QDBusMessage& registration : std::exchange(m_held, {})) {
        connection.send(
            accept ? registration.createReply()
                   : registration.createErrorReply(QDBusError::Failed, QStringLiteral("refused")));
        // Messages from one connection to another arrive in the order sent, and the item
        // takes both in on its own thread in that order.
        QDBusMessage get = QDBusMessage::createMethodCall(
            registration.service(), QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Id");
        readBacks.append(connection.asyncCall(get));
    }
    waitUntil([&] {
        return std::all_of(readBacks.begin(), readBacks.end(),
                           [](const QDBusPendingCall& call) { return call.isFinished(); });
    });
}

void HoldingWatcher::giveUpName() {
    QDBusConnection(m_connectionName).unregisterService(watcherService);
}

QString HoldingWatcher::introspect(const QString&) const {
    return QStringLiteral("<interface name=\"org.kde.StatusNotifierWatcher\">"
                          "<method name=\"RegisterStatusNotifierItem\">"
                          "<arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
                          "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" "
                          "access=\"read\"/></interface>");
}

bool HoldingWatcher::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
        m_held.append(message);
        return true;
    }
    // What it sits on it lists as registered, as GNOME's extension does while it reads an item.
    if (message.member() == QLatin1String("Get") &&
        message.arguments().value(1) == QLatin1String("RegisteredStatusNotifierItems")) {
        QStringList items;
        for (const QDBusMessage& held : m_held)
            items << held.arguments().value(0).toString();
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(items))));
        return true;
    }
    if (message.member() == QLatin1String("Get") &&
        message.arguments().value(1) == QLatin1String("IsStatusNotifierHostRegistered")) {
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
        return true;
    }
    return false;
}
