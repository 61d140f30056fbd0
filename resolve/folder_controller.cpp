#include "resolve/folder_controller.h"

#include "platform/directory_reader.h"
#include "resolve/docket_naming.h"
#include "resolve/prefix_matcher.h"

FolderController::FolderController(std::shared_ptr<FolderModel> model,
                                   std::shared_ptr<DesktopOpener> opener)
    : model(std::move(model)), m_opener(std::move(opener)) {}

ResolveResult FolderController::resolve() const {
    const std::string key = extractDigits(model->folderNumber());
    if (key.empty())
        return resolve_result::none{"Please enter digits"};

    const std::optional<std::filesystem::path> root = model->rootFolderURL();
    if (!root)
        return resolve_result::none{"Root folder not selected"};

    const DocketNames names = docketNames(key);
    std::optional<std::filesystem::path> legacy;
    if (names.legacyBucket)
        legacy = findInBucket(*root, *names.legacyBucket, key);
    std::optional<std::filesystem::path> j = findInBucket(*root, names.jBucket, names.jName);

    if (legacy && j)
        return resolve_result::conflict{std::move(*legacy), std::move(*j), key};
    if (legacy)
        return resolve_result::one{std::move(*legacy), DocketKind::legacy, key};
    if (j)
        return resolve_result::one{std::move(*j), DocketKind::j, key};
    return resolve_result::none{"Folder not found for " + key};
}

std::optional<std::string> FolderController::openRecent(const RecentDocket& docket) {
    const std::optional<std::filesystem::path> root = model->rootFolderURL();
    if (!root)
        return "Root folder not selected";

    const std::string& key = docket.docketKey();
    const DocketNames names = docketNames(key);
    std::optional<std::filesystem::path> found;
    if (docket.kind() == DocketKind::j) {
        found = findInBucket(*root, names.jBucket, names.jName);
        if (!found)
            return "Folder not found for " + names.jName;
    } else {
        if (!names.legacyBucket)
            return "Recent docket is invalid";
        found = findInBucket(*root, *names.legacyBucket, key);
        if (!found)
            return "Folder not found for " + key;
    }

    m_opener->open(*found);
    model->addRecent(key, docket.kind(), displayName(*found));
    return std::nullopt;
}

std::optional<std::filesystem::path>
FolderController::findEntry(const std::string& prefix, const std::filesystem::path& folder) const {
    DirectoryReader reader(folder);
    const PrefixMatcher matcher(prefix);
    while (const std::optional<std::string_view> name = reader.next()) {
        if (matcher.matches(*name))
            return folder / *name;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path>
FolderController::findInBucket(const std::filesystem::path& root, const std::string& bucket,
                               const std::string& prefix) const {
    const std::optional<std::filesystem::path> folder = bucketLocation(root, bucket);
    if (!folder)
        return std::nullopt;
    return findEntry(prefix, *folder);
}
