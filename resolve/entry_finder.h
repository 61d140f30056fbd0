#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_reader.h"
#include "platform/main_thread.h"

// One search: the first entry of the folder, in listing order, whose name begins with the
// prefix. The root is the share the folder lies on: threads stuck on a share are counted by it.
struct EntrySearch {
    std::filesystem::path root;
    std::filesystem::path folder;
    std::string prefix;
};

// An entry a search found, and whether it is a folder, as its listing said.
struct FoundEntry {
    std::filesystem::path location;
    bool isFolder = true;
    bool operator==(const FoundEntry&) const = default;
};

// The answer to one search: the entry, none when the folder holds no such entry (or is missing,
// or not ours to read), or word that the folder's file server did not answer, when nothing can
// be said either way.
struct SearchAnswer {
    std::optional<FoundEntry> entry;
    bool notAnswering = false;
    bool operator==(const SearchAnswer&) const = default;
};

// Runs searches on worker threads, so that a folder on a share that has stopped answering
// holds up nothing but its own search, and hands the answers to the main thread.
//
// A folder has at most one listing at a time, from opening it to its last entry: every search
// of that folder while it runs joins it, and also sees the entries read before it joined. A
// listing that no wanted search is waiting for any more stops at the next entry it reads. A
// call that never returns (a hard mount whose server is gone) keeps its thread for good; so at
// most `threadsPerRoot` listings run on one share, and a search that would need another gets
// "not answering" at once, as does one for which no thread can be had.
class EntryFinder {
public:
    using Found = std::vector<SearchAnswer>;
    // Whether the searches' answers are still wanted. Asked on worker threads too.
    using IsWanted = std::function<bool()>;
    // Starts the work on a thread of its own that nobody waits for; false when none could be had.
    using StartThread = std::function<bool(std::function<void()>)>;

    static constexpr std::size_t defaultThreadsPerRoot = 6;

    EntryFinder(OpenDirectory openDirectory, std::shared_ptr<MainThread> mainThread,
                StartThread startThread = {}, std::size_t threadsPerRoot = defaultThreadsPerRoot);

    // Starts all the searches at once. Once the last has its answer, `done` gets the answers, in
    // the order of the searches, from the main thread's queue: never inside this call, also when
    // there are no searches. Nothing is delivered once `isWanted` says no.
    void find(const std::vector<EntrySearch>& searches, IsWanted isWanted,
              std::function<void(Found)> done) const;

    // The listings of folders on the share whose threads have not ended.
    std::size_t runningListings(const std::filesystem::path& root) const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
