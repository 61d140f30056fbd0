#include "support/private_bus.h"

#include <QDBusConnection>
#include <QFile>

namespace {

constexpr int timeoutMs = 10000;

// A session bus as dbus-daemon --session makes one, but with no folders of services to start.
const char* const configuration = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateBus::PrivateBus(const QString& connectionPrefix) {
    const QString configFile = m_folder.filePath(QStringLiteral("bus.conf"));
    QFile file(configFile);
    if (file.open(QIODevice::WriteOnly))
        file.write(configuration);
    file.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + configFile, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    while (m_daemon.waitForReadyRead(timeoutMs) && !m_daemon.canReadLine()) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    static int count = 0;
    m_connectionName = QStringLiteral("%1-%2").arg(connectionPrefix).arg(++count);
    QDBusConnection::connectToBus(m_address, m_connectionName);
}

PrivateBus::~PrivateBus() {
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_daemon.terminate();
    m_daemon.waitForFinished(timeoutMs);
}
