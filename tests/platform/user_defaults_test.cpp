#include <cstdlib>
#include <fstream>
#include <numeric>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/user_defaults.h"
#include "support/temp_dir.h"

namespace {

// Permission bits deny nothing to root; an immutable folder does.
bool setWritable(const std::filesystem::path& folder, bool writable) {
    if (::geteuid() != 0)
        return ::chmod(folder.c_str(), writable ? 0755 : 0555) == 0;
    const std::string command = writable ? "chattr -i '" : "chattr +i '";
    return std::system((command + folder.string() + "'").c_str()) == 0;
}

} // namespace

// QSettings shares a parsed file between the instances of one process, so a second instance
// on the same path may answer from memory. The later instances read copies, on paths no
// instance has seen: what they read came from the disk.
TEST(UserDefaults, WritesGoThroughAndAFailedOneKeepsTheValueInMemoryAndTheOldFileIntact) {
    TempDir dir;
    std::ofstream(dir / "by-hand.ini") << "[General]\nrecentDockets=[]\nrootFolderBookmark=1, 2\n";
    const UserDefaults byHand(dir / "by-hand.ini");
    EXPECT_TRUE(byHand.contains("recentDockets"));
    EXPECT_EQ(byHand.dataForKey("recentDockets"), std::nullopt);
    EXPECT_EQ(byHand.dataForKey("rootFolderBookmark"), std::nullopt);

    const auto folder = dir.makeFolder("config");
    const auto file = folder / "defaults.ini";
    Blob bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    UserDefaults defaults(file);
    defaults.setObject(bytes, "bytes");
    defaults.setObject({}, "empty");
    defaults.setObject(Blob{'x'}, "removed");
    std::filesystem::copy_file(file, dir / "before.ini");
    EXPECT_EQ(UserDefaults(dir / "before.ini").dataForKey("bytes"), bytes);

    if (!setWritable(folder, false))
        GTEST_SKIP() << "cannot make " << folder << " read-only here";
    testing::internal::CaptureStdout();
    defaults.setObject(Blob{'n', 'e', 'w'}, "bytes");
    defaults.removeObjectForKey("removed");
    const std::string line = "⚠️ Failed to write user defaults: file://" + file.string() + "\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line);
    EXPECT_EQ(defaults.dataForKey("bytes"), (Blob{'n', 'e', 'w'}));
    EXPECT_FALSE(defaults.contains("removed"));
    const std::string compare = "cmp -s '" + file.string() + "' '" + (dir / "before.ini").string();
    EXPECT_EQ(std::system((compare + "'").c_str()), 0) << "the file changed";

    // Once the folder can be written again, the next write stores the earlier changes too.
    ASSERT_TRUE(setWritable(folder, true));
    testing::internal::CaptureStdout();
    defaults.setObject(Blob{'b', 'm'}, "rootFolderBookmark");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::filesystem::copy_file(file, dir / "later.ini");
    const UserDefaults later(dir / "later.ini");
    EXPECT_EQ(later.dataForKey("bytes"), (Blob{'n', 'e', 'w'}));
    EXPECT_EQ(later.dataForKey("empty"), Blob{});
    EXPECT_FALSE(later.contains("removed"));
    EXPECT_EQ(later.dataForKey("rootFolderBookmark"), (Blob{'b', 'm'}));
}
