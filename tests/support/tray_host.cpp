#include "support/tray_host.h"

#include <QCoreApplication>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int timeoutMs = 10000;

} // namespace

bool waitUntil(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

TrayHost::TrayHost()
    : m_bus(QStringLiteral("tray-host")), m_address(m_bus.address()),
      m_connectionName(m_bus.connectionName()) {}

TrayHost::~TrayHost() {
    stopWatcher();
}

void TrayHost::startWatcher(bool withHost) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    m_watcher.setProcessEnvironment(environment);
    QStringList arguments{QStringLiteral(ZORVANT_WATCHER_SCRIPT)};
    if (!withHost)
        arguments << QStringLiteral("--no-host");
    m_watcher.start(QStringLiteral("/usr/bin/python3"), arguments);
    // It says so once it has its name on the bus.
    while (m_watcher.waitForReadyRead(timeoutMs) && !m_watcher.canReadLine()) {
    }
    m_watcher.readLine();
}

void TrayHost::stopWatcher() {
    if (m_watcher.state() == QProcess::NotRunning)
        return;
    m_watcher.terminate();
    m_watcher.waitForFinished(timeoutMs);
}

QStringList TrayHost::registeredItems() {
    return property(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                    QStringLiteral("RegisteredStatusNotifierItems"))
        .toStringList();
}

QDBusMessage TrayHost::call(const QString& service, const QString& path, const QString& interface,
                            const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection(m_connectionName).asyncCall(message, timeoutMs);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}

QVariant TrayHost::property(const QString& service, const QString& path, const QString& interface,
                            const QString& name) {
    const QDBusMessage reply =
        call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}
