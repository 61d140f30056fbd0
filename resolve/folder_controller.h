#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"
#include "platform/main_thread.h"
#include "resolve/entry_finder.h"
#include "resolve/resolve_result.h"

// Finds docket folders under the model's root folder, and reopens recent dockets. Nothing is
// cached: every call reads the model and lists the file system afresh.
//
// The panel's lookups list their folders on worker threads, both folders of a lookup at the
// same time, so that a slow share costs the slower of the two listings and a share that has
// stopped answering never holds up the interface. The model is read when the lookup is asked
// for, and the model and the opener are touched only on the main thread, once the listings
// are back.
class FolderController {
public:
    // Asked on the main thread when a lookup's listings are back. When it answers false the
    // lookup ends there: nothing is opened or recorded and no answer is given.
    using IsWanted = std::function<bool()>;

    FolderController(std::shared_ptr<FolderModel> model, std::shared_ptr<DesktopOpener> opener,
                     std::shared_ptr<MainThread> mainThread);

    // Looks the typed number up as a Legacy and as a J docket. Changes nothing. The answer
    // comes on the main thread; at once, before this returns, when no listing is needed or the
    // listings are back within a moment.
    void resolve(IsWanted isWanted, std::function<void(ResolveResult)> answer) const;

    // The same lookup with its listings on the calling thread.
    ResolveResult resolve() const;

    // Finds the recent docket's folder again, opens it and records it anew. Answers, on the
    // main thread, the message to show, or none when the folder was opened; at once when no
    // listing is needed or the listing is back within a moment.
    void openRecent(const RecentDocket& docket, IsWanted isWanted,
                    std::function<void(std::optional<std::string>)> answer);

    // The first entry of the folder, in listing order, whose name begins with the prefix.
    // A folder that is missing or cannot be read has no entries.
    std::optional<std::filesystem::path> findEntry(const std::string& prefix,
                                                   const std::filesystem::path& folder) const;

    const std::shared_ptr<FolderModel> model;

private:
    // What resolving the typed number takes: its key and the searches of its two buckets.
    struct Lookup {
        std::string key;
        std::optional<EntrySearch> legacy;
        std::optional<EntrySearch> j;
    };

    // Reads the typed number, then (only when it has digits) the root folder.
    std::variant<resolve_result::none, Lookup> lookup() const;
    static ResolveResult decide(const std::string& key, std::optional<std::filesystem::path> legacy,
                                std::optional<std::filesystem::path> j);

    std::shared_ptr<DesktopOpener> m_opener;
    EntryFinder m_finder;
};
