#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"
#include "resolve/resolve_result.h"

// Finds docket folders under the model's root folder, and reopens recent dockets. Nothing is
// cached: every call reads the model and lists the file system afresh.
class FolderController {
public:
    FolderController(std::shared_ptr<FolderModel> model, std::shared_ptr<DesktopOpener> opener);

    // Looks the typed number up as a Legacy and as a J docket. Changes nothing.
    ResolveResult resolve() const;

    // Finds the recent docket's folder again, opens it and records it anew. Answers the
    // message to show, or none when the folder was opened.
    std::optional<std::string> openRecent(const RecentDocket& docket);

    // The first entry of the folder, in listing order, whose name begins with the prefix.
    // A folder that is missing or cannot be read has no entries.
    std::optional<std::filesystem::path> findEntry(const std::string& prefix,
                                                   const std::filesystem::path& folder) const;

    const std::shared_ptr<FolderModel> model;

private:
    std::optional<std::filesystem::path> findInBucket(const std::filesystem::path& root,
                                                      const std::string& bucket,
                                                      const std::string& prefix) const;

    std::shared_ptr<DesktopOpener> m_opener;
};
