#include "platform/bus_connection.h"

#include <atomic>

#include "platform/bus_connection_qt.h"

BusConnection::BusConnection(const std::string& busAddress, const std::string& purpose) {
    if (busAddress.empty()) {
        m_name = QDBusConnection::sessionBus().name().toStdString();
        return;
    }
    static std::atomic<int> count = 0;
    m_name = "zorvant-" + purpose + "-" + std::to_string(++count);
    m_own = true;
    QDBusConnection::connectToBus(qString(busAddress), qString(m_name));
}

BusConnection::~BusConnection() {
    if (m_own)
        QDBusConnection::disconnectFromBus(qString(m_name));
}
