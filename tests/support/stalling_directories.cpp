#include "support/stalling_directories.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

struct StallingDirectories::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::set<std::filesystem::path> held;
    std::map<std::filesystem::path, int> openings;
    int stalled = 0;

    bool isHeld(const std::filesystem::path& folder) const {
        for (const auto& under : held) {
            const auto [end, rest] = std::mismatch(under.begin(), under.end(), folder.begin());
            if (end == under.end())
                return true;
        }
        return false;
    }
};

StallingDirectories::StallingDirectories() : m_state(std::make_shared<State>()) {}

StallingDirectories::~StallingDirectories() {
    const std::lock_guard lock(m_state->mutex);
    m_state->held.clear();
    m_state->changed.notify_all();
}

OpenDirectory StallingDirectories::opener() const {
    return [state = m_state](const std::filesystem::path& folder) {
        {
            std::unique_lock lock(state->mutex);
            ++state->openings[folder];
            if (state->isHeld(folder)) {
                ++state->stalled;
                state->changed.notify_all();
                state->changed.wait(lock, [&] { return !state->isHeld(folder); });
                --state->stalled;
            }
        }
        return openDirectory(folder);
    };
}

void StallingDirectories::hold(const std::filesystem::path& under) {
    const std::lock_guard lock(m_state->mutex);
    m_state->held.insert(under);
}

void StallingDirectories::release(const std::filesystem::path& under) {
    const std::lock_guard lock(m_state->mutex);
    m_state->held.erase(under);
    m_state->changed.notify_all();
}

bool StallingDirectories::waitForStalled(int count, std::chrono::milliseconds patience) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, patience, [&] { return m_state->stalled >= count; });
}

int StallingDirectories::openings(const std::filesystem::path& folder) const {
    const std::lock_guard lock(m_state->mutex);
    const auto it = m_state->openings.find(folder);
    return it == m_state->openings.end() ? 0 : it->second;
}
