#pragma once

#include <filesystem>
#include <functional>
#include <map>

// Access to a folder the user chose. Start is granted when the location is a folder this
// user may list; stop gives back one grant. Grants are counted per location so that
// start and stop can be shown to balance.
class SecurityScope {
public:
    bool startAccessing(const std::filesystem::path& location);
    void stopAccessing(const std::filesystem::path& location);

    // Overrides the check, for sessions that run as root, where permission bits deny
    // nothing. The policy answers whether access to a location is granted.
    void setPolicy(std::function<bool(const std::filesystem::path&)> policy);

    int startCount(const std::filesystem::path& location) const;
    int stopCount(const std::filesystem::path& location) const;
    // Grants started and not yet stopped, over all locations.
    int outstandingGrants() const;

private:
    struct Counts {
        int starts = 0;
        int granted = 0;
        int stops = 0;
    };

    static bool mayList(const std::filesystem::path& location);

    std::function<bool(const std::filesystem::path&)> m_policy;
    std::map<std::filesystem::path, Counts> m_counts;
};
