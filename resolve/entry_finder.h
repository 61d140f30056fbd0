#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_reader.h"
#include "platform/main_thread.h"

// One search: the first entry of the folder, in listing order, whose name begins with the
// prefix.
struct EntrySearch {
    std::filesystem::path folder;
    std::string prefix;
};

// Runs searches on worker threads, so that a folder on a share that has stopped answering
// holds up nothing but its own search, and hands the answers to the main thread.
//
// A search of a folder whose listing is still waiting to open it joins that listing instead
// of starting another thread: the entries it reads are read after the search was asked for,
// just as a listing of its own would read them. So a share that never answers costs one
// thread per folder asked for, however often the user presses Return.
class EntryFinder {
public:
    using Found = std::vector<std::optional<std::filesystem::path>>;

    EntryFinder(OpenDirectory openDirectory, std::shared_ptr<MainThread> mainThread);

    // Starts all the searches at once; once the last has its answer, `done` gets the answers,
    // in the order of the searches, on the main thread: called there, and at once, before this
    // returns, when the answers are back within a moment. A folder that cannot be read, or a
    // search for which no thread can be had, finds nothing.
    void find(const std::vector<EntrySearch>& searches, std::function<void(Found)> done) const;

    // One search, on the calling thread.
    std::optional<std::filesystem::path> findEntry(const std::string& prefix,
                                                   const std::filesystem::path& folder) const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
