#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/recent_docket.h"
#include "platform/blob.h"
#include "platform/bookmark.h"
#include "platform/clock.h"
#include "platform/main_thread.h"
#include "platform/security_scope.h"
#include "platform/signal.h"
#include "platform/user_defaults.h"
#include "platform/worker_thread.h"

// The platform services the model stands on. Tests hand in their own store, access layer, clock
// or bookmark calls; the program uses the real ones.
struct FolderModelServices {
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<SecurityScope> securityScope = std::make_shared<SecurityScope>();
    Clock clock = secondsSinceReferenceDate;
    // These ask the file system, so they run on worker threads.
    std::function<Expected<Blob>(const std::filesystem::path&)> makeBookmark = ::makeBookmark;
    std::function<Expected<ResolvedBookmark>(const Blob&)> resolveBookmark = ::resolveBookmark;
    // Where the root folder is checked, and where the answer comes back. The program hands in
    // detached threads and its event loop; left empty, each step runs at once on the calling
    // thread, as tests of the rules want.
    StartThread startThread = {};
    std::shared_ptr<MainThread> mainThread = {};
};

// The program's one observable model: the typed docket number, the root 'dockets' folder
// (its bookmark, the location resolved from it and the access held on it) and the recent
// dockets. Shared by the content view and the folder controller.
class FolderModel {
public:
    // The published fields. Observers hear of each assignment before the new value is stored.
    enum class Field { folderNumber, rootFolderBookmark, rootFolderURL, recentDockets, rootStatus };

    // Where the root folder stands. Its share is asked on a worker thread: until the answer
    // comes the root is being checked; a share that does not answer, or answers with an error
    // that says it is unreachable, leaves the root kept but not answering. Only a root that is
    // answered for and is gone, no folder, or refused is no root.
    enum class RootStatus { none, checking, accessible, notAnswering };

    static constexpr std::size_t maximumRecents = 10;

    const std::string bookmarkKey = "rootFolderBookmark";
    const std::string recentsKey = "recentDockets";

    // Loads the recents, then restores the root folder from its stored bookmark.
    explicit FolderModel(FolderModelServices services);
    FolderModel(const FolderModel&) = delete;
    FolderModel& operator=(const FolderModel&) = delete;

    const std::string& folderNumber() const { return m_folderNumber; }
    void setFolderNumber(std::string folderNumber);

    const std::optional<Blob>& rootFolderBookmark() const { return m_rootFolderBookmark; }
    // Stores and announces, then runs applyRootFolderBookmark.
    void setRootFolderBookmark(std::optional<Blob> bookmark);

    const std::optional<std::filesystem::path>& rootFolderURL() const { return m_rootFolderURL; }

    RootStatus rootStatus() const { return m_rootStatus; }
    // The folder the bookmark names, read from the blob alone: known while it is being checked
    // and while its share does not answer, when rootFolderURL is still none.
    const std::optional<std::filesystem::path>& bookmarkedRoot() const { return m_bookmarkedRoot; }
    // Asks the share again about a root that did not answer. Nothing happens while a check
    // runs, or when the root is accessible or there is none.
    void recheckRoot();
    // Runs `then` once the root's status is settled: at once when no check is running, else on
    // the main thread when its answer has landed.
    void whenRootChecked(std::function<void()> then);

    const std::vector<RecentDocket>& recentDockets() const { return m_recentDockets; }
    // Stores and announces, then saves the list.
    void setRecentDockets(std::vector<RecentDocket> dockets);

    bool isAccessingSecurityScope() const { return m_isAccessingSecurityScope; }

    // Puts the docket at the front, drops its older entries of the same key and kind, and
    // keeps at most ten.
    void addRecent(const std::string& docketKey, DocketKind kind, const std::string& displayName);
    void saveRecents();
    void loadRecents();
    void clearRecents();

    [[nodiscard]] Connection observeChanges(std::function<void(Field)> observer);

    // Runs file-system work for the model on a worker thread, then `then` on the main thread,
    // unless the model is gone by then. The work must hold nothing of the model. False when
    // no thread could be had.
    bool inBackground(std::function<void()> work, std::function<void()> then);

    const FolderModelServices& services() const { return m_services; }

private:
    void announce(Field field) { m_objectWillChange.emit(field); }
    void setRootFolderURL(std::optional<std::filesystem::path> location);
    void setRootStatus(RootStatus status);
    void applyRootFolderBookmark();
    struct RootCheck;
    void checkRoot();
    void rootChecked(RootCheck check);

    FolderModelServices m_services;
    Signal<Field> m_objectWillChange;

    std::string m_folderNumber;
    std::optional<Blob> m_rootFolderBookmark;
    std::optional<std::filesystem::path> m_rootFolderURL;
    std::vector<RecentDocket> m_recentDockets;
    bool m_isAccessingSecurityScope = false;

    RootStatus m_rootStatus = RootStatus::none;
    std::optional<std::filesystem::path> m_bookmarkedRoot;
    // The number of the newest check: an answer for an older one, about a bookmark since
    // replaced, is dropped.
    std::uint64_t m_newestCheck = 0;
    std::vector<std::function<void()>> m_afterCheck;
    // What answers from workers reach the model through, on the main thread; it goes with
    // the model, and the answers with it.
    std::shared_ptr<FolderModel*> m_self = std::make_shared<FolderModel*>(this);
};
