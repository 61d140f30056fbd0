#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

class FolderModel;

// What the folder chooser reports when it closes: the chosen locations (empty when the user
// gave up), or an error.
struct FolderPickerError {
    std::string description;
};
using FolderPickerOutcome = std::variant<std::vector<std::filesystem::path>, FolderPickerError>;

// Turns the chooser's outcome into the model's new root folder: access is taken on the
// chosen folder just long enough to bookmark it and hand the bookmark to the model. The
// chosen folder is read on a worker thread; the model changes on the main thread, later.
void handleRootFolderSelection(const FolderPickerOutcome& outcome, FolderModel& model);
