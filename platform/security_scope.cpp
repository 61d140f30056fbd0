#include "platform/security_scope.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/directory_reader.h"

SecurityScope::Check SecurityScope::mayList(const std::filesystem::path& location) {
    struct stat info {};
    if (::stat(location.c_str(), &info) != 0)
        return meansNotAnswering(errno) ? Check::notAnswering : Check::refused;
    if (!S_ISDIR(info.st_mode))
        return Check::refused;
    if (::access(location.c_str(), R_OK | X_OK) != 0)
        return meansNotAnswering(errno) ? Check::notAnswering : Check::refused;
    return Check::granted;
}

SecurityScope::Check SecurityScope::check(const std::filesystem::path& location) const {
    if (m_policy)
        return m_policy(location) ? Check::granted : Check::refused;
    return mayList(location);
}

bool SecurityScope::startAccessing(const std::filesystem::path& location, Check outcome) {
    Counts& counts = m_counts[location];
    ++counts.starts;
    const bool granted = outcome == Check::granted;
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
