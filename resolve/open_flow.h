#pragma once

#include <filesystem>
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
class OpenFlow {
public:
    OpenFlow(std::shared_ptr<FolderController> controller, std::shared_ptr<DesktopOpener> opener);

    // Return in the number field.
    void openFolder();
    // The "Open Folder" button: clears the error line first.
    void openFolderButton();

    // The dialog's buttons, built from the current conflictURLs.
    std::vector<ConflictChoice> conflictChoices() const;
    // Runs a button of the dialog; the dialog then closes.
    void choose(const ConflictChoice& choice);
    // The dialog closed by any way, a button or dismissal.
    void conflictDialogClosed() { showConflict = false; }

    // A row of the recents list.
    void reopenRecent(const RecentDocket& docket);

    std::optional<std::string> errorMessage;
    bool showConflict = false;
    std::optional<ConflictURLs> conflictURLs;

private:
    void openAndRecord(const std::filesystem::path& location, DocketKind kind,
                       const std::string& docketKey);

    std::shared_ptr<FolderController> m_controller;
    std::shared_ptr<DesktopOpener> m_opener;
};
