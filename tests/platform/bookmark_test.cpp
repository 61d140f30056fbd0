#include <fstream>

#include <gtest/gtest.h>

#include "platform/bookmark.h"
#include "support/temp_dir.h"

namespace {

constexpr std::size_t deviceOffset = 5;

// A bookmarked folder whose name needs escaping in its URL form.
class BookmarkTest : public testing::Test {
protected:
    std::string failure(const Blob& blob) const {
        const auto resolved = resolveBookmark(blob);
        return resolved.ok() ? "resolved to " + resolved->location.string()
                             : resolved.failure().description;
    }

    TempDir dir;
    const std::filesystem::path folder = dir.makeFolder("dockets \xc3\xbc%\n\xff");
    // Every byte outside the path characters is escaped.
    const std::string url = "file://" + dir.path().string() + "/dockets%20%C3%BC%25%0A%FF";
    const Blob blob = makeBookmark(folder).value();
};

} // namespace

TEST_F(BookmarkTest, ResolvesToItsFolderFresh) {
    const auto resolved = resolveBookmark(blob);
    ASSERT_TRUE(resolved.ok()) << resolved.failure().description;
    EXPECT_EQ(resolved->location, folder);
    EXPECT_FALSE(resolved->isStale);
}

TEST_F(BookmarkTest, RefusesDamagedBlobsSayingWhy) {
    Blob future = blob;
    future[4] = 2;
    const std::string truncated = "the bookmark data is truncated";
    EXPECT_EQ(failure(Blob{}), "the bookmark data is empty");
    EXPECT_EQ(failure(Blob(blob.begin(), blob.begin() + 2)), truncated);
    EXPECT_EQ(failure(Blob(blob.begin(), blob.begin() + 5)), truncated);
    EXPECT_EQ(failure(Blob(blob.begin(), blob.end() - 1)), truncated);
    EXPECT_EQ(failure(Blob{0x9c, 0x01, 0xff, 0x00, 0x42, 0x42}),
              "the data is not a Zorvant bookmark");
    EXPECT_EQ(failure(future), "bookmark version 2 is not supported");
}

// The path's length is recorded: bytes after it are damage, not a shorter path to resolve.
TEST_F(BookmarkTest, RefusesBytesAfterTheRecordedPath) {
    Blob longer = makeBookmark(dir.path()).value();
    const std::string rest = folder.native().substr(dir.path().native().size());
    longer.insert(longer.end(), rest.begin(), rest.end());
    EXPECT_EQ(failure(longer), "the bookmark data has trailing bytes");
}

TEST_F(BookmarkTest, AGoneFolderOrAFileInItsPlaceDoesNotResolve) {
    // The old folder is kept, so that a new one cannot reuse its inode.
    std::filesystem::rename(folder, dir / "old");
    EXPECT_EQ(failure(blob),
              "the bookmarked folder " + url + "/ cannot be found: No such file or directory");
    std::ofstream(folder).flush();
    EXPECT_EQ(failure(blob), "the bookmarked location " + url + " is no longer a folder");
}

TEST_F(BookmarkTest, AFolderReplacedAtThePathIsStale) {
    std::filesystem::rename(folder, dir / "old");
    std::filesystem::create_directory(folder);
    const auto resolved = resolveBookmark(blob);
    ASSERT_TRUE(resolved.ok()) << resolved.failure().description;
    EXPECT_EQ(resolved->location, folder);
    EXPECT_TRUE(resolved->isStale);
}

// A folder restored on another file system can carry the very inode number it had.
TEST_F(BookmarkTest, TheSameInodeOnAnotherDeviceIsStale) {
    Blob otherDevice = blob;
    otherDevice[deviceOffset] ^= 0x01;
    const auto resolved = resolveBookmark(otherDevice);
    ASSERT_TRUE(resolved.ok()) << resolved.failure().description;
    EXPECT_EQ(resolved->location, folder);
    EXPECT_TRUE(resolved->isStale);
}
