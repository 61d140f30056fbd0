#pragma once

#include <filesystem>

#include "platform/blob.h"
#include "platform/expected.h"

// A bookmark keeps a chosen folder across runs: an opaque, versioned blob holding the
// folder's absolute path and its identity (device and inode) when the bookmark was made.
//
// Layout of version 1, integers little-endian:
//   "ZVBM" | u8 version | u64 device | u64 inode | u32 path length | path bytes
struct ResolvedBookmark {
    std::filesystem::path location;
    // The path names a folder, but not the one that was bookmarked (it was replaced or
    // restored from a backup). The location is still usable; the bookmark should be re-made.
    bool isStale = false;
};

// Both ask the file system, and may wait for as long as its file server takes: worker threads only.
Expected<Blob> makeBookmark(const std::filesystem::path& location);
Expected<ResolvedBookmark> resolveBookmark(const Blob& bookmark);

// The location a bookmark names, read from the blob alone, without asking the file system: what
// the interface shows while the folder itself is being checked.
Expected<std::filesystem::path> bookmarkedLocation(const Blob& bookmark);
