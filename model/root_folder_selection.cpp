#include "model/root_folder_selection.h"

#include "model/folder_model.h"
#include "platform/log.h"

void handleRootFolderSelection(const FolderPickerOutcome& outcome, FolderModel& model) {
    if (const auto* error = std::get_if<FolderPickerError>(&outcome)) {
        logLine("Folder selection failed:", error->description);
        return;
    }
    const auto& chosen = std::get<std::vector<std::filesystem::path>>(outcome);
    if (chosen.empty())
        return;

    // Whether the chosen folder may be read, and its bookmark, come from the file system, which
    // may be a share that does not answer: both are found out on a worker.
    struct Findings {
        SecurityScope::Check access = SecurityScope::Check::refused;
        bool isFolder = false;
        std::optional<Expected<Blob>> bookmark;
    };
    const std::filesystem::path location = chosen.front();
    auto findings = std::make_shared<Findings>();
    const auto work = [findings, location, scope = model.services().securityScope,
                       makeBookmark = model.services().makeBookmark] {
        std::error_code error;
        findings->isFolder = std::filesystem::is_directory(location, error);
        findings->access = scope->check(location);
        if (findings->access == SecurityScope::Check::granted)
            findings->bookmark = makeBookmark(location);
    };
    const auto then = [&model, findings, location] {
        SecurityScope& scope = *model.services().securityScope;
        if (!scope.startAccessing(location, findings->access)) {
            logLine("Failed to start accessing security-scoped URL:",
                    fileURL(location, findings->isFolder));
            return;
        }
        const Expected<Blob>& bookmark = *findings->bookmark;
        if (bookmark)
            model.setRootFolderBookmark(*bookmark);
        else
            logLine("Failed to create bookmark for root folder:", bookmark.failure().description);
        // Given back only now, when the model has asked for its own access to the folder.
        scope.stopAccessing(location);
    };
    if (!model.inBackground(work, then))
        logLine("Folder selection failed:", "no thread could be had to read the chosen folder");
}
