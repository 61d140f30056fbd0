#include "resolve/entry_finder.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/worker_thread.h"
#include "resolve/prefix_matcher.h"

namespace {

// The searches of one find call, and the answers they have so far.
struct Batch {
    std::mutex mutex;
    EntryFinder::Found found;
    std::size_t outstanding = 0;
    EntryFinder::IsWanted isWanted;
    std::function<void(EntryFinder::Found)> done;
    std::shared_ptr<MainThread> mainThread;

    void answer(std::size_t index, SearchAnswer given) {
        std::unique_lock lock(mutex);
        found[index] = std::move(given);
        if (--outstanding > 0)
            return;
        lock.unlock();
        mainThread->post(
            [isWanted = isWanted, done = std::move(done), found = std::move(found)]() mutable {
                if (isWanted())
                    done(std::move(found));
            });
    }
};

struct Waiter {
    // Made on the asking thread, which has the prefix's characters at hand already.
    std::shared_ptr<const PrefixMatcher> matcher;
    std::shared_ptr<Batch> batch;
    std::size_t index;
    // How many of the listing's names this search has been matched against.
    std::size_t checked = 0;
};

// A search that has its answer, once the entry's kind is known.
struct Settled {
    Waiter waiter;
    std::optional<std::size_t> entry;
};

// The names a listing has read, one after the other in one buffer: a name apiece would cost
// an allocation for each entry of a large folder.
struct NamesRead {
    std::string bytes;
    std::vector<std::size_t> ends;
    std::vector<std::optional<bool>> folders;

    std::size_t count() const { return ends.size(); }
    std::string_view name(std::size_t index) const {
        const std::size_t start = index == 0 ? 0 : ends[index - 1];
        return std::string_view(bytes).substr(start, ends[index] - start);
    }
    void add(std::string_view name, std::optional<bool> isFolder) {
        bytes.append(name);
        ends.push_back(bytes.size());
        folders.push_back(isFolder);
    }
    void clear() {
        bytes.clear();
        ends.clear();
        folders.clear();
    }
};

// One listing of a folder, shared by the searches of that folder while it runs.
struct Listing {
    std::filesystem::path root;
    std::filesystem::path folder;
    std::vector<Waiter> waiters;
    // Every name read so far, for the searches that join part way, and whether each is a
    // folder, as far as the listing said.
    NamesRead names;
};

} // namespace

struct EntryFinder::Shared {
    OpenDirectory openDirectory;
    std::shared_ptr<MainThread> mainThread;
    StartThread startThread;
    std::size_t threadsPerRoot;
    mutable std::mutex mutex;
    std::map<std::filesystem::path, std::shared_ptr<Listing>> listings;
    std::map<std::filesystem::path, std::size_t> threads;
    // The room finished listings' names took, for the next listings: freed and taken afresh, a
    // large folder's names cost a page fault every few entries. Kept here rather than per thread:
    // this code runs in a module loaded at run time, whose thread-local storage the leak checker
    // misreads in threads that reuse an ended thread's stack.
    std::vector<NamesRead> spareNames;

    // Matches the waiters against the names they have not seen, and takes out those that have
    // their answer or are no longer wanted. With `ended`, the listing is over: every waiter left
    // is settled, and the listing leaves the table. Called with the mutex held.
    std::vector<Settled> settle(Listing& listing, bool ended) {
        std::vector<Settled> settled;
        for (Waiter& waiter : listing.waiters) {
            // One no longer wanted leaves without an answer.
            if (!waiter.batch->isWanted()) {
                waiter.batch.reset();
                continue;
            }
            std::optional<std::size_t> match;
            for (; waiter.checked < listing.names.count() && !match; ++waiter.checked) {
                if (waiter.matcher->matches(listing.names.name(waiter.checked)))
                    match = waiter.checked;
            }
            if (match || ended)
                settled.push_back({std::move(waiter), match});
        }
        // Those that left, settled or unwanted, have no batch any more (a moved-from shared_ptr
        // is empty); the rest stay in their order. Matching changes the waiters, so it is done
        // above and not in the predicate, which the algorithms require to leave them be.
        std::erase_if(listing.waiters, [](const Waiter& waiter) { return !waiter.batch; });
        if (ended || listing.waiters.empty())
            leave(listing);
        return settled;
    }

    void leave(const Listing& listing) {
        if (const auto it = listings.find(listing.folder);
            it != listings.end() && it->second.get() == &listing)
            listings.erase(it);
        if (const auto it = threads.find(listing.root); it != threads.end() && --it->second == 0)
            threads.erase(it);
    }

    // Hands the settled searches their answers; an entry whose kind the listing left open is
    // looked up here, on the worker.
    static void answer(const Listing& listing, std::vector<Settled> settled, bool notAnswering) {
        for (Settled& one : settled) {
            SearchAnswer given;
            if (one.entry) {
                std::filesystem::path location = listing.folder / listing.names.name(*one.entry);
                bool isFolder = true;
                if (const std::optional<bool> listed = listing.names.folders[*one.entry]) {
                    isFolder = *listed;
                } else {
                    std::error_code error;
                    isFolder = std::filesystem::is_directory(location, error);
                }
                given.entry = FoundEntry{std::move(location), isFolder};
            } else {
                given.notAnswering = notAnswering;
            }
            one.waiter.batch->answer(one.waiter.index, std::move(given));
        }
    }

    void list(const std::shared_ptr<Listing>& listing) {
        {
            const std::lock_guard lock(mutex);
            if (!spareNames.empty()) {
                listing->names = std::move(spareNames.back());
                spareNames.pop_back();
            }
        }
        const std::unique_ptr<DirectoryReader> reader = openDirectory(listing->folder);
        const bool open = reader && reader->isOpen();
        for (;;) {
            std::optional<std::string_view> name;
            if (open)
                name = reader->next();
            std::vector<Settled> settled;
            bool over = false;
            {
                const std::lock_guard lock(mutex);
                if (name)
                    listing->names.add(*name, reader->listedAsFolder());
                settled = settle(*listing, !name);
                over = !name || listing->waiters.empty();
            }
            answer(*listing, std::move(settled), reader && meansNotAnswering(reader->error()));
            if (over) {
                // Out of the table and answered: nobody else reads the names any more.
                NamesRead spare = std::move(listing->names);
                spare.clear();
                const std::lock_guard lock(mutex);
                if (spareNames.size() < threadsPerRoot)
                    spareNames.push_back(std::move(spare));
                return;
            }
        }
    }

    static void unserved(Waiter waiter) {
        SearchAnswer none;
        none.notAnswering = true;
        waiter.batch->answer(waiter.index, std::move(none));
    }
};

EntryFinder::EntryFinder(OpenDirectory openDirectory, std::shared_ptr<MainThread> mainThread,
                         StartThread startThread, std::size_t threadsPerRoot)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->openDirectory = std::move(openDirectory);
    m_shared->mainThread = std::move(mainThread);
    m_shared->startThread = startThread ? std::move(startThread) : StartThread(startDetachedThread);
    m_shared->threadsPerRoot = threadsPerRoot;
}

void EntryFinder::find(const std::vector<EntrySearch>& searches, IsWanted isWanted,
                       std::function<void(Found)> done) const {
    auto batch = std::make_shared<Batch>();
    batch->found.resize(searches.size());
    batch->outstanding = searches.size();
    batch->isWanted = std::move(isWanted);
    batch->done = std::move(done);
    batch->mainThread = m_shared->mainThread;
    if (searches.empty()) {
        m_shared->mainThread->post([batch] {
            if (batch->isWanted())
                batch->done({});
        });
        return;
    }

    for (std::size_t i = 0; i < searches.size(); ++i) {
        Waiter waiter{std::make_shared<const PrefixMatcher>(searches[i].prefix), batch, i};
        std::shared_ptr<Listing> started;
        {
            const std::lock_guard lock(m_shared->mutex);
            if (const auto it = m_shared->listings.find(searches[i].folder);
                it != m_shared->listings.end()) {
                it->second->waiters.push_back(std::move(waiter));
                continue;
            }
            std::size_t& running = m_shared->threads[searches[i].root];
            if (running < m_shared->threadsPerRoot) {
                ++running;
                started = std::make_shared<Listing>();
                started->root = searches[i].root;
                started->folder = searches[i].folder;
                started->waiters.push_back(std::move(waiter));
                m_shared->listings.emplace(started->folder, started);
            } else if (running == 0) {
                m_shared->threads.erase(searches[i].root);
            }
        }
        if (!started) {
            Shared::unserved(std::move(waiter));
            continue;
        }
        if (!m_shared->startThread([shared = m_shared, started] { shared->list(started); })) {
            std::vector<Waiter> waiters;
            {
                const std::lock_guard lock(m_shared->mutex);
                waiters = std::move(started->waiters);
                m_shared->leave(*started);
            }
            for (Waiter& unserved : waiters)
                Shared::unserved(std::move(unserved));
        }
    }
}

std::size_t EntryFinder::runningListings(const std::filesystem::path& root) const {
    const std::lock_guard lock(m_shared->mutex);
    const auto it = m_shared->threads.find(root);
    return it == m_shared->threads.end() ? 0 : it->second;
}
