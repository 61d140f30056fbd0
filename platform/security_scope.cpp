#include "platform/security_scope.h"

#include <sys/stat.h>
#include <unistd.h>

bool SecurityScope::mayList(const std::filesystem::path& location) {
    struct stat info {};
    return ::stat(location.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(location.c_str(), R_OK | X_OK) == 0;
}

bool SecurityScope::startAccessing(const std::filesystem::path& location) {
    Counts& counts = m_counts[location];
    ++counts.starts;
    const bool granted = m_policy ? m_policy(location) : mayList(location);
    if (granted)
        ++counts.granted;
    return granted;
}

void SecurityScope::stopAccessing(const std::filesystem::path& location) {
    Counts& counts = m_counts[location];
    ++counts.stops;
    if (counts.granted > 0)
        --counts.granted;
}

void SecurityScope::setPolicy(std::function<bool(const std::filesystem::path&)> policy) {
    m_policy = std::move(policy);
}

int SecurityScope::startCount(const std::filesystem::path& location) const {
    const auto it = m_counts.find(location);
    return it == m_counts.end() ? 0 : it->second.starts;
}

int SecurityScope::stopCount(const std::filesystem::path& location) const {
    const auto it = m_counts.find(location);
    return it == m_counts.end() ? 0 : it->second.stops;
}

int SecurityScope::outstandingGrants() const {
    int total = 0;
    for (const auto& [location, counts] : m_counts)
        total += counts.granted;
    return total;
}
