#include "support/stalling_directories.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace {

bool isUnder(const std::filesystem::path& under, const std::filesystem::path& folder) {
    const auto [end, rest] = std::mismatch(under.begin(), under.end(), folder.begin());
    return end == under.end();
}

template <class Map> auto findUnder(const Map& locations, const std::filesystem::path& folder) {
    for (auto it = locations.begin(); it != locations.end(); ++it) {
        if (isUnder(it->first, folder))
            return it;
    }
    return locations.end();
}

} // namespace

struct StallingDirectories::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::set<std::filesystem::path> held;
    std::map<std::filesystem::path, int> heldReading;
    std::map<std::filesystem::path, int> failing;
    std::map<std::filesystem::path, int> openings;
    std::map<std::filesystem::path, int> read;
    int stalled = 0;
    int stalledReads = 0;

    bool isHeld(const std::filesystem::path& folder) const {
        for (const auto& under : held) {
            if (isUnder(under, folder))
                return true;
        }
        return false;
    }
};

namespace {

// A listing that counts what it reads, and waits where the test holds it.
class CountingReader : public DirectoryReader {
public:
    CountingReader(const std::filesystem::path& folder,
                   std::shared_ptr<StallingDirectories::State> state)
        : DirectoryReader(folder), m_folder(folder), m_state(std::move(state)) {}

    std::optional<std::string_view> next() override {
        std::unique_lock lock(m_state->mutex);
        const auto mustWait = [&] {
            const auto held = findUnder(m_state->heldReading, m_folder);
            return held != m_state->heldReading.end() && m_returned >= held->second;
        };
        if (mustWait()) {
            ++m_state->stalledReads;
            m_state->changed.notify_all();
            m_state->changed.wait(lock, [&] { return !mustWait(); });
            --m_state->stalledReads;
        }
        lock.unlock();
        const std::optional<std::string_view> name = DirectoryReader::next();
        if (name) {
            lock.lock();
            ++m_returned;
            ++m_state->read[m_folder];
        }
        return name;
    }

private:
    std::filesystem::path m_folder;
    std::shared_ptr<StallingDirectories::State> m_state;
    int m_returned = 0;
};

class FailedReader : public DirectoryReader {
public:
    explicit FailedReader(int error) : DirectoryReader(error) {}
};

} // namespace

StallingDirectories::StallingDirectories() : m_state(std::make_shared<State>()) {}

StallingDirectories::~StallingDirectories() {
    const std::lock_guard lock(m_state->mutex);
    m_state->held.clear();
    m_state->heldReading.clear();
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
            if (const auto failing = findUnder(state->failing, folder);
                failing != state->failing.end())
                return std::unique_ptr<DirectoryReader>(
                    std::make_unique<FailedReader>(failing->second));
        }
        return std::unique_ptr<DirectoryReader>(std::make_unique<CountingReader>(folder, state));
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

void StallingDirectories::holdReading(const std::filesystem::path& under, int after) {
    const std::lock_guard lock(m_state->mutex);
    m_state->heldReading[under] = after;
}

void StallingDirectories::releaseReading(const std::filesystem::path& under) {
    const std::lock_guard lock(m_state->mutex);
    m_state->heldReading.erase(under);
    m_state->changed.notify_all();
}

void StallingDirectories::fail(const std::filesystem::path& under, int error) {
    const std::lock_guard lock(m_state->mutex);
    m_state->failing[under] = error;
}

bool StallingDirectories::waitForStalledReads(int count, std::chrono::milliseconds patience) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, patience,
                                     [&] { return m_state->stalledReads >= count; });
}

int StallingDirectories::entriesRead(const std::filesystem::path& folder) const {
    const std::lock_guard lock(m_state->mutex);
    const auto it = m_state->read.find(folder);
    return it == m_state->read.end() ? 0 : it->second;
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
