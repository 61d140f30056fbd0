#include "resolve/entry_finder.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/worker_thread.h"
#include "resolve/prefix_matcher.h"

namespace {

// How long the asking thread waits for the answers itself. Most listings are back well within
// it, and taking them at once spares the trip through the event loop (and whatever it paints
// on the way) between Return and the folder opening. A slower share holds the interface up
// for no longer than this; its answers then come by the event loop.
constexpr std::chrono::milliseconds patience{50};

// The searches of one find call, and the answers they have so far.
struct Batch {
    std::mutex mutex;
    std::condition_variable allAnswered;
    EntryFinder::Found found;
    std::size_t outstanding = 0;
    // While set, the asking thread is waiting and takes the answers itself.
    bool askerWaiting = true;
    std::function<void(EntryFinder::Found)> done;
    std::shared_ptr<MainThread> mainThread;

    void answer(std::size_t index, std::optional<std::filesystem::path> entry) {
        std::unique_lock lock(mutex);
        found[index] = std::move(entry);
        if (--outstanding > 0)
            return;
        if (askerWaiting) {
            allAnswered.notify_one();
            return;
        }
        lock.unlock();
        mainThread->post([done = std::move(done), found = std::move(found)]() mutable {
            done(std::move(found));
        });
    }
};

struct Waiter {
    // Made on the asking thread, which has the prefix's characters at hand already.
    std::shared_ptr<const PrefixMatcher> matcher;
    std::shared_ptr<Batch> batch;
    std::size_t index;
};

// A listing that has not opened its folder yet, with the searches waiting for it.
struct Opening {
    std::filesystem::path folder;
    std::vector<Waiter> waiters;
};

} // namespace

struct EntryFinder::Shared {
    OpenDirectory openDirectory;
    std::shared_ptr<MainThread> mainThread;
    std::mutex mutex;
    std::map<std::filesystem::path, std::shared_ptr<Opening>> openings;

    // The listing ends its time as an opening when the folder is open (or failed to open):
    // searches asked for later need a listing of their own.
    std::vector<Waiter> opened(const std::shared_ptr<Opening>& opening) {
        const std::lock_guard lock(mutex);
        if (const auto it = openings.find(opening->folder);
            it != openings.end() && it->second == opening)
            openings.erase(it);
        return std::move(opening->waiters);
    }

    void list(const std::shared_ptr<Opening>& opening) {
        const std::unique_ptr<DirectoryReader> reader = openDirectory(opening->folder);
        std::vector<Waiter> waiters = opened(opening);
        std::vector<std::optional<std::filesystem::path>> entries(waiters.size());
        std::size_t unanswered = waiters.size();
        if (reader && reader->isOpen()) {
            while (unanswered > 0) {
                const std::optional<std::string_view> name = reader->next();
                if (!name)
                    break;
                for (std::size_t i = 0; i < waiters.size(); ++i) {
                    if (!entries[i] && waiters[i].matcher->matches(*name)) {
                        entries[i] = opening->folder / *name;
                        --unanswered;
                    }
                }
            }
        }
        for (std::size_t i = 0; i < waiters.size(); ++i)
            waiters[i].batch->answer(waiters[i].index, std::move(entries[i]));
    }
};

EntryFinder::EntryFinder(OpenDirectory openDirectory, std::shared_ptr<MainThread> mainThread)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->openDirectory = std::move(openDirectory);
    m_shared->mainThread = std::move(mainThread);
}

void EntryFinder::find(const std::vector<EntrySearch>& searches,
                       std::function<void(Found)> done) const {
    auto batch = std::make_shared<Batch>();
    batch->found.resize(searches.size());
    batch->outstanding = searches.size();
    batch->done = std::move(done);
    batch->mainThread = m_shared->mainThread;
    if (searches.empty()) {
        m_shared->mainThread->post([batch] { batch->done({}); });
        return;
    }

    for (std::size_t i = 0; i < searches.size(); ++i) {
        Waiter waiter{std::make_shared<const PrefixMatcher>(searches[i].prefix), batch, i};
        std::shared_ptr<Opening> opening;
        {
            const std::lock_guard lock(m_shared->mutex);
            std::shared_ptr<Opening>& pending = m_shared->openings[searches[i].folder];
            if (pending) {
                pending->waiters.push_back(std::move(waiter));
                continue;
            }
            pending = std::make_shared<Opening>(Opening{searches[i].folder, {}});
            pending->waiters.push_back(std::move(waiter));
            opening = pending;
        }
        if (!startDetachedThread([shared = m_shared, opening] { shared->list(opening); })) {
            for (Waiter& unserved : m_shared->opened(opening))
                unserved.batch->answer(unserved.index, std::nullopt);
        }
    }

    std::unique_lock lock(batch->mutex);
    const bool answered =
        batch->allAnswered.wait_for(lock, patience, [&] { return batch->outstanding == 0; });
    batch->askerWaiting = false;
    if (!answered)
        return;
    lock.unlock();
    batch->done(std::move(batch->found));
}

std::optional<std::filesystem::path>
EntryFinder::findEntry(const std::string& prefix, const std::filesystem::path& folder) const {
    const std::unique_ptr<DirectoryReader> reader = m_shared->openDirectory(folder);
    if (!reader)
        return std::nullopt;
    const PrefixMatcher matcher(prefix);
    while (const std::optional<std::string_view> name = reader->next()) {
        if (matcher.matches(*name))
            return folder / *name;
    }
    return std::nullopt;
}
