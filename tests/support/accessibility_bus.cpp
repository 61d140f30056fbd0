#include "support/accessibility_bus.h"

#include <csignal>

#include <sys/prctl.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr int timeoutMs = 10000;

void endWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace

AccessibilityBus::AccessibilityBus() {
    endWithTheTest(m_daemon);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    while (m_daemon.waitForReadyRead(timeoutMs) && !m_daemon.canReadLine()) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty())
        return;

    endWithTheTest(m_launcher);
    m_launcher.setProcessEnvironment(environment(QProcessEnvironment::systemEnvironment()));
    m_launcher.setProcessChannelMode(QProcess::MergedChannels);
    m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                     {QStringLiteral("--launch-immediately")});
    const QString connectionName = QStringLiteral("accessibility-bus-check");
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(m_address, connectionName);
        const QDeadlineTimer deadline(timeoutMs);
        while (bus.isConnected() && !deadline.hasExpired() &&
               m_launcher.state() != QProcess::NotRunning &&
               !(m_running = bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus"))))
            QThread::msleep(5);
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

AccessibilityBus::~AccessibilityBus() {
    for (QProcess* process : {&m_launcher, &m_daemon}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(timeoutMs))
            process->kill();
        process->waitForFinished(timeoutMs);
    }
}

QString AccessibilityBus::launcherOutput() {
    m_launcher.waitForFinished(0);
    return QString::fromLocal8Bit(m_launcher.readAll());
}

QProcessEnvironment AccessibilityBus::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    base.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                QString::fromStdString(m_runtime.path().string()));
    return base;
}
