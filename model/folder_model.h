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
#include "platform/directory_reader.h"
#include "platform/security_scope.h"
#include "platform/signal.h"
#include "platform/user_defaults.h"

// The platform services the model stands on, and through which the folder tree under its root
// is read. Tests hand in their own store, access layer, clock, bookmark calls or folder
// reader; the program uses the real ones.
struct FolderModelServices {
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<SecurityScope> securityScope = std::make_shared<SecurityScope>();
    Clock clock = secondsSinceReferenceDate;
    std::function<Expected<Blob>(const std::filesystem::path&)> makeBookmark = ::makeBookmark;
    std::function<Expected<ResolvedBookmark>(const Blob&)> resolveBookmark = ::resolveBookmark;
    OpenDirectory openDirectory = ::openDirectory;
};

// The program's one observable model: the typed docket number, the root 'dockets' folder
// (its bookmark, the location resolved from it and the access held on it) and the recent
// dockets. Shared by the content view and the folder controller.
class FolderModel {
public:
    // The published fields. Observers hear of each assignment before the new value is stored.
    enum class Field { folderNumber, rootFolderBookmark, rootFolderURL, recentDockets };

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

    const FolderModelServices& services() const { return m_services; }

private:
    void announce(Field field) { m_objectWillChange.emit(field); }
    void setRootFolderURL(std::optional<std::filesystem::path> location);
    void applyRootFolderBookmark();

    FolderModelServices m_services;
    Signal<Field> m_objectWillChange;

    std::string m_folderNumber;
    std::optional<Blob> m_rootFolderBookmark;
    std::optional<std::filesystem::path> m_rootFolderURL;
    std::vector<RecentDocket> m_recentDockets;
    bool m_isAccessingSecurityScope = false;
};
