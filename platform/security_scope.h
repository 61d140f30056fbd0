#pragma once

#include <filesystem>
#include <functional>
#include <map>

// Access to a folder the user chose. Start is granted when the location is a folder this
// user may list; stop gives back one grant. Grants are counted per location so that
// start and stop can be shown to balance.
//
// Finding out whether access can be granted asks the file system, which may not answer for a
// long while on a share: check() runs on a worker thread, and the grant is then started on
// the main thread with its outcome.
class SecurityScope {
public:
    enum class Check { granted, refused, notAnswering };

    // Whether the location may be accessed. Safe on any thread, once the policy is set.
    Check check(const std::filesystem::path& location) const;
    // Starts access with the outcome of check(); true when granted.
    bool startAccessing(const std::filesystem::path& location, Check outcome);
    // Checks and starts at once, on the calling thread.
    bool startAccessing(const std::filesystem::path& location) {
        return startAccessing(location, check(location));
    }
    void stopAccessing(const std::filesystem::path& location);

    // Overrides the check, for sessions that run as root, where permission bits deny
    // nothing. The policy answers whether access to a location is granted. Set it before
    // the first check.
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

    static Check mayList(const std::filesystem::path& location);

    std::function<bool(const std::filesystem::path&)> m_policy;
    std::map<std::filesystem::path, Counts> m_counts;
};
