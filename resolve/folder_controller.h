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
#include "resolve/docket_naming.h"
#include "resolve/entry_finder.h"
#include "resolve/resolve_result.h"

// Finds docket folders under the model's root folder, and reopens recent dockets. Nothing is
// cached: every call reads the model and lists the file system afresh.
//
// The panel's lookups list their folders on worker threads, both folders of a lookup at the
// same time, so that a slow share costs the slower of the two listings and a share that has
// stopped answering never holds up the interface. A lookup asked for while the root folder is
// being checked waits for the check; one under a root whose share did not answer asks it
// again first. The typed number is read when the lookup is asked for, and the model and the
// opener are touched only on the main thread.
class FolderController {
public:
    // Whether the lookup is still wanted. Asked on worker threads too, so it must be safe there;
    // when it answers false the lookup ends: nothing is opened or recorded, no answer is given,
    // and its listings stop at their next entry.
    using IsWanted = EntryFinder::IsWanted;

    // The folders under the root are read through `openDirectory`, on worker threads.
    FolderController(std::shared_ptr<FolderModel> model, std::shared_ptr<DesktopOpener> opener,
                     OpenDirectory openDirectory, std::shared_ptr<MainThread> mainThread,
                     EntryFinder::StartThread startThread = {});

    // Looks the typed number up as a Legacy and as a J docket. Changes nothing. The answer
    // comes from the main thread's queue, never inside this call.
    void resolve(IsWanted isWanted, std::function<void(ResolveResult)> answer) const;

    // Finds the recent docket's folder again, opens it and records it anew. Answers, from the
    // main thread's queue, the message to show, or none when the folder was opened.
    void openRecent(const RecentDocket& docket, IsWanted isWanted,
                    std::function<void(std::optional<std::string>)> answer);

    // What a lookup says when the root's file server does not answer: it names the root.
    std::string notAnsweringMessage() const;

    const EntryFinder& finder() const { return m_finder; }

    const std::shared_ptr<FolderModel> model;

private:
    // What finding a docket key's folders takes: the key, its names, and the searches of its two
    // buckets (none where the key has no such bucket, or the bucket cannot be under the root).
    struct Lookup {
        std::string key;
        DocketNames names;
        std::optional<EntrySearch> legacy;
        std::optional<EntrySearch> j;
    };
    // The root folder to search, or the message that stands in for the lookup's answer.
    using RootOrMessage = std::variant<std::filesystem::path, std::string>;

    // Runs `then` with the root once its check is settled, asking a share that did not answer
    // once more first.
    void whenRootReady(IsWanted isWanted, std::function<void(RootOrMessage)> then,
                       bool askedAgain = false) const;
    static Lookup lookup(std::string key, const std::filesystem::path& root);
    static ResolveResult decide(const std::string& key, const SearchAnswer& legacy,
                                const SearchAnswer& j, const std::string& notAnswering);
    // Hands the answer over from the main thread's queue, if it is still wanted then.
    void deliver(IsWanted isWanted, std::function<void()> answer) const;

    std::shared_ptr<DesktopOpener> m_opener;
    std::shared_ptr<MainThread> m_mainThread;
    EntryFinder m_finder;
    // Callbacks left with the model reach the controller through this, while it lives.
    std::shared_ptr<const FolderController*> m_self =
        std::make_shared<const FolderController*>(this);
};
