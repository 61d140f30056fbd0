#include "platform/bus_connection.h"

#include <atomic>

#include <QDBusConnection>

BusConnection::BusConnection(const std::string& busAddress, const std::string& purpose) {
    if (busAddress.empty()) {
        m_name = QDBusConnection::sessionBus().name().toStdString();
        return;
    }
    static std::atomic<int> count = 0;
    m_name = "zorvant-" + purpose + "-" + std::to_string(++count);
    m_own = true;
    QDBusConnection::connectToBus(QString::fromStdString(busAddress),
                                  QString::fromStdString(m_name));
}

BusConnection::~BusConnection() {
    if (m_own)
        QDBusConnection::disconnectFromBus(QString::fromStdString(m_name));
}
