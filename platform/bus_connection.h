#pragma once

#include <string>

// The D-Bus connection a client of ours speaks on, by the name Qt knows it by: the session
// bus's own, or a connection of its own to another bus (a test's), closed when it goes.
class BusConnection {
public:
    // busAddress: empty for the session bus. purpose names a connection of its own.
    BusConnection(const std::string& busAddress, const std::string& purpose);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    const std::string& name() const { return m_name; }

private:
    std::string m_name;
    bool m_own = false;
};
