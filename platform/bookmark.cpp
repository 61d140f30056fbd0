#include "platform/bookmark.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "platform/log.h"

namespace {

constexpr char kMagic[4] = {'Z', 'V', 'B', 'M'};
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kHeaderSize = sizeof(kMagic) + 1 + 8 + 8 + 4;

void putInteger(Blob& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getInteger(const Blob& in, std::size_t offset, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(in[offset + i]) << (8 * i);
    return value;
}

} // namespace

Expected<Blob> makeBookmark(const std::filesystem::path& location) {
    if (location.empty())
        return Failure{"cannot bookmark an empty location"};
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(location, error);
    if (error)
        return Failure{"cannot bookmark " + fileURL(location, false) + ": " + error.message(),
                       error.value()};
    struct stat info {};
    if (::stat(absolute.c_str(), &info) != 0) {
        const int failure = errno;
        return Failure{
            "cannot bookmark " + fileURL(absolute, false) + ": " + std::strerror(failure), failure};
    }

    const std::string& path = absolute.native();
    Blob blob;
    blob.reserve(kHeaderSize + path.size());
    blob.insert(blob.end(), std::begin(kMagic), std::end(kMagic));
    blob.push_back(kVersion);
    putInteger(blob, static_cast<std::uint64_t>(info.st_dev), 8);
    putInteger(blob, static_cast<std::uint64_t>(info.st_ino), 8);
    putInteger(blob, path.size(), 4);
    blob.insert(blob.end(), path.begin(), path.end());
    return blob;
}

namespace {

struct Decoded {
    std::filesystem::path location;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

Expected<Decoded> decode(const Blob& bookmark) {
    if (bookmark.empty())
        return Failure{"the bookmark data is empty"};
    if (std::memcmp(bookmark.data(), kMagic, std::min(bookmark.size(), sizeof(kMagic))) != 0)
        return Failure{"the data is not a Zorvant bookmark"};
    if (bookmark.size() <= sizeof(kMagic))
        return Failure{"the bookmark data is truncated"};
    const std::uint8_t version = bookmark[sizeof(kMagic)];
    if (version != kVersion)
        return Failure{"bookmark version " + std::to_string(version) + " is not supported"};
    if (bookmark.size() < kHeaderSize)
        return Failure{"the bookmark data is truncated"};

    const std::uint64_t device = getInteger(bookmark, 5, 8);
    const std::uint64_t inode = getInteger(bookmark, 13, 8);
    const std::uint64_t pathLength = getInteger(bookmark, 21, 4);
    if (bookmark.size() - kHeaderSize < pathLength)
        return Failure{"the bookmark data is truncated"};
    if (bookmark.size() - kHeaderSize > pathLength)
        return Failure{"the bookmark data has trailing bytes"};

    const std::string path(bookmark.begin() + kHeaderSize, bookmark.end());
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return Failure{"the bookmark holds no absolute path"};
    return Decoded{std::filesystem::path(path), device, inode};
}

} // namespace

Expected<std::filesystem::path> bookmarkedLocation(const Blob& bookmark) {
    auto decoded = decode(bookmark);
    if (!decoded)
        return decoded.failure();
    return std::move(decoded.value().location);
}

Expected<ResolvedBookmark> resolveBookmark(const Blob& bookmark) {
    const auto decoded = decode(bookmark);
    if (!decoded)
        return decoded.failure();

    ResolvedBookmark resolved{decoded->location, false};
    struct stat info {};
    if (::stat(resolved.location.c_str(), &info) != 0) {
        const int failure = errno;
        return Failure{"the bookmarked folder " + fileURL(resolved.location, true) +
                           " cannot be found: " + std::strerror(failure),
                       failure};
    }
    if (!S_ISDIR(info.st_mode))
        return Failure{"the bookmarked location " + fileURL(resolved.location, false) +
                           " is no longer a folder",
                       ENOTDIR};
    resolved.isStale = static_cast<std::uint64_t>(info.st_dev) != decoded->device ||
                       static_cast<std::uint64_t>(info.st_ino) != decoded->inode;
    return resolved;
}
