#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/recent_docket.h"
#include "platform/desktop_opener.h"
#include "resolve/folder_controller.h"

// The pending choice of a conflict: both folders of one docket.
struct ConflictURLs {
    std::filesystem::path legacy;
    std::filesystem::path j;
    std::string docketKey;
    bool legacyIsFolder = true;
    bool jIsFolder = true;
    bool operator==(const ConflictURLs&) const = default;
};

// One button of the conflict dialog, in the dialog's order.
struct ConflictChoice {
    enum class Role { legacy, j, cancel };
    Role role;
    std::string label;
    // The triple the button acts on (none for Cancel), copied when the buttons were built.
    std::optional<ConflictURLs> urls;
};

// The user actions that turn a typed number or a recent docket into an opened folder, and
// the little view state they leave for the panel to show: the error line and the conflict
// dialog.
//
// The lookups behind the actions run in the background, and only the newest is wanted: an
// action's outcome lands in the state when its answer comes back, unless another action came
// after it or the lookup was given up meanwhile. Then the answer is dropped unseen, and
// nothing is opened or recorded for it.
class OpenFlow {
public:
    OpenFlow(std::shared_ptr<FolderController> controller, std::shared_ptr<DesktopOpener> opener);

    // Return in the number field.
    void openFolder();
    // The "Open Folder" button: clears the error line at once, then looks up as Return does.
    void openFolderButton();

    // The dialog's buttons, built from the current conflictURLs.
    std::vector<ConflictChoice> conflictChoices() const;
    // Runs a button of the dialog; the dialog then closes.
    void choose(const ConflictChoice& choice);
    // The dialog closed by any way, a button or dismissal.
    void conflictDialogClosed() { showConflict = false; }

    // A row of the recents list.
    void reopenRecent(const RecentDocket& docket);

    // Whether a lookup is running whose answer is still wanted.
    bool isLookingUp() const { return m_lookingUp; }
    // Gives the running lookup up: its answer will be dropped, and its listings stop.
    void abandonLookup();
    // Gives the running lookup up because it has waited too long for the file server, and says
    // so on the error line. Nothing happens when no lookup is running.
    void lookupTimedOut();
    // Runs each time an answer has landed in the state, also one that came at once.
    void setAnswerHandler(std::function<void()> handler) { m_answerHandler = std::move(handler); }

    std::optional<std::string> errorMessage;
    bool showConflict = false;
    std::optional<ConflictURLs> conflictURLs;

private:
    // Makes the coming lookup the newest, and tells whether it still is.
    FolderController::IsWanted startLookup();
    void answered();
    void openAndRecord(const std::filesystem::path& location, bool isFolder, DocketKind kind,
                       const std::string& docketKey);

    std::shared_ptr<FolderController> m_controller;
    std::shared_ptr<DesktopOpener> m_opener;
    // The number of the newest lookup. Answers hold it weakly, so that one arriving after the
    // flow is gone finds nothing to act on; listings read it on their worker threads.
    std::shared_ptr<std::atomic<std::uint64_t>> m_newestLookup =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    bool m_lookingUp = false;
    std::function<void()> m_answerHandler;
};
