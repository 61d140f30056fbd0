#include <fstream>

#include <gtest/gtest.h>

#include "platform/bookmark.h"
#include "support/temp_dir.h"

TEST(Bookmark, ResolvesItsFolderTellsAGoneOrReplacedOneAndRejectsDamagedBlobs) {
    TempDir dir;
    // Every byte outside the path characters is escaped in the folder's URL form.
    const auto folder = dir.makeFolder("dockets \xc3\xbc%\n\xff");
    const std::string url = "file://" + dir.path().string() + "/dockets%20%C3%BC%25%0A%FF";
    const Blob blob = makeBookmark(folder).value();
    EXPECT_EQ(resolveBookmark(blob)->location, folder);
    EXPECT_FALSE(resolveBookmark(blob)->isStale);

    Blob future = blob;
    future[4] = 2;
    const std::string truncated = "the bookmark data is truncated";
    for (const auto& [damaged, message] : std::vector<std::pair<Blob, std::string>>{
             {Blob{}, "the bookmark data is empty"},
             {Blob(blob.begin(), blob.begin() + 2), truncated},
             {Blob(blob.begin(), blob.begin() + 5), truncated},
             {Blob(blob.begin(), blob.end() - 1), truncated},
             // Random bytes.
             {Blob{0x9c, 0x01, 0xff, 0x00, 0x42, 0x42}, "the data is not a Zorvant bookmark"},
             {future, "bookmark version 2 is not supported"}}) {
        const auto resolved = resolveBookmark(damaged);
        ASSERT_FALSE(resolved.ok()) << message << ", " << damaged.size() << " bytes";
        EXPECT_EQ(resolved.failure().description, message) << damaged.size() << " bytes";
    }

    // The old folder is kept, so that a new one cannot reuse its inode.
    std::filesystem::rename(folder, dir / "old");
    EXPECT_EQ(resolveBookmark(blob).failure().description,
              "the bookmarked folder " + url + "/ cannot be found: No such file or directory");
    std::ofstream(folder).flush();
    EXPECT_EQ(resolveBookmark(blob).failure().description,
              "the bookmarked location " + url + " is no longer a folder");
    std::filesystem::remove(folder);
    std::filesystem::create_directory(folder);
    EXPECT_EQ(resolveBookmark(blob)->location, folder);
    EXPECT_TRUE(resolveBookmark(blob)->isStale);
}
