#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"
#include "support/temp_dir.h"

// Remembers every location it was asked to open, in order, with what it was told of each,
// and opens nothing.
class RecordingOpener : public DesktopOpener {
public:
    void open(const std::filesystem::path& location, bool isFolder) override {
        opened.push_back(location);
        folders.push_back(isFolder);
    }

    std::vector<std::filesystem::path> opened;
    std::vector<bool> folders;
};

// A model over a defaults file inside the temporary folder, with the given root folder chosen
// through a bookmark (or none chosen). Its clock ticks one second per reading, so records made
// one after the other carry distinct, growing times.
std::shared_ptr<FolderModel> makeDocketModel(const TempDir& temp,
                                             const std::optional<std::filesystem::path>& root);
