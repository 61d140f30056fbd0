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

    const std::filesystem::path& location = chosen.front();
    SecurityScope& scope = *model.services().securityScope;
    if (!scope.startAccessing(location)) {
        logLine("Failed to start accessing security-scoped URL:", fileURL(location));
        return;
    }

    const auto bookmark = model.services().makeBookmark(location);
    if (bookmark)
        model.setRootFolderBookmark(*bookmark);
    else
        logLine("Failed to create bookmark for root folder:", bookmark.failure().description);

    // Given back only now, when the model holds its own access to the resolved folder.
    scope.stopAccessing(location);
}
