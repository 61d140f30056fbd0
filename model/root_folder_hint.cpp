#include "model/root_folder_hint.h"

#include <string_view>

namespace {

bool isBucketName(const std::filesystem::path& name) {
    return std::string_view(name.native()).starts_with("a-");
}

} // namespace

std::optional<RootFolderHint> rootFolderHint(const std::filesystem::path& chosen) {
    std::error_code error;
    std::filesystem::directory_iterator entries(chosen, error);
    if (error)
        return std::nullopt;
    for (const auto& entry : entries)
        if (isBucketName(entry.path().filename()))
            return std::nullopt;

    // A chooser may hand back "…/a-123/" with its slash: the folder's own name counts.
    std::filesystem::path self = chosen.lexically_normal();
    if (!self.has_filename())
        self = self.parent_path();
    if (isBucketName(self.filename()))
        return RootFolderHint{RootFolderHint::Kind::bucket, self.parent_path()};
    if (isBucketName(self.parent_path().filename()))
        return RootFolderHint{RootFolderHint::Kind::docketFolder, self.parent_path().parent_path()};
    return std::nullopt;
}
