#pragma once

#include <filesystem>
#include <optional>

// A chosen root that holds no bucket folder but lies inside the dockets folder, one or two
// levels down: the commonest slip when choosing the root. Only a hint, since a new dockets
// folder with no buckets yet is a valid root.
struct RootFolderHint {
    enum class Kind { bucket, docketFolder };
    Kind kind;
    // The folder that holds the bucket: the root the user most likely meant.
    std::filesystem::path suggestedRoot;

    bool operator==(const RootFolderHint&) const = default;
};

// Lists the chosen folder, so it runs on a worker. None when the folder holds a bucket, when
// it cannot be listed, or when nothing about it or its parent looks like a bucket.
std::optional<RootFolderHint> rootFolderHint(const std::filesystem::path& chosen);
