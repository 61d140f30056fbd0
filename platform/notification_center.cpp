#include "platform/notification_center.h"

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

Connection NotificationCenter::addObserver(const std::string& name,
                                           std::function<void()> observer) {
    return m_signals[name].connect(std::move(observer));
}

void NotificationCenter::post(const std::string& name) {
    if (auto it = m_signals.find(name); it != m_signals.end())
        it->second.emit();
}

const std::string& focusRequestNotification() {
    static const std::string name = "ZorvantRequestFocus";
    return name;
}
