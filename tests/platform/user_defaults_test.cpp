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
    return std::system((command + folder.string() + "' 2>/dev/null").c_str()) == 0;
}

bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::string command = "cmp -s '" + a.string() + "' '" + b.string() + "'";
    return std::system(command.c_str()) == 0;
}

// QSettings shares a parsed file between the instances of one process, so a second instance
// on the same path may answer from memory. What a test reads back goes through a copy, on a
// path no instance has seen: what it reads came from the disk.
std::optional<Blob> readBack(const TempDir& dir, const std::filesystem::path& file,
                             const std::string& key) {
    static int copies = 0;
    const auto copy = dir / ("copy-" + std::to_string(++copies) + ".ini");
    std::filesystem::copy_file(file, copy);
    return UserDefaults(copy).dataForKey(key);
}

// A store whose folder can be made read-only and writable again.
class UserDefaultsWriteTest : public testing::Test {
protected:
    void SetUp() override {
        defaults.setObject(bytes, "bytes");
        defaults.setObject(Blob{'x'}, "removed");
        std::filesystem::copy_file(file, dir / "before.ini");
        if (!setWritable(folder, false))
            GTEST_SKIP() << "cannot make " << folder << " read-only here";
    }
    void TearDown() override { setWritable(folder, true); }

    // Writes with the folder read-only; answers what was printed.
    template <class Write> std::string failing(Write write) {
        testing::internal::CaptureStdout();
        write();
        return testing::internal::GetCapturedStdout();
    }

    TempDir dir;
    const std::filesystem::path folder = dir.makeFolder("config");
    const std::filesystem::path file = folder / "defaults.ini";
    UserDefaults defaults{file};
    Blob bytes = [] {
        Blob all(256);
        std::iota(all.begin(), all.end(), 0);
        return all;
    }();
    const std::string failureLine =
        "⚠️ Failed to write user defaults: file://" + file.string() + "\n";
};

} // namespace

TEST(UserDefaults, AValueWrittenAsTextIsNoByteBlob) {
    TempDir dir;
    std::ofstream(dir / "by-hand.ini") << "[General]\nrecentDockets=[]\nrootFolderBookmark=1, 2\n";
    const UserDefaults byHand(dir / "by-hand.ini");
    EXPECT_TRUE(byHand.contains("recentDockets"));
    EXPECT_EQ(byHand.dataForKey("recentDockets"), std::nullopt);
    EXPECT_EQ(byHand.dataForKey("rootFolderBookmark"), std::nullopt);
}

TEST(UserDefaults, EveryByteAndTheEmptyBlobReadBackFromTheFile) {
    TempDir dir;
    Blob bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    UserDefaults defaults(dir / "defaults.ini");
    defaults.setObject(bytes, "bytes");
    defaults.setObject({}, "empty");
    EXPECT_EQ(readBack(dir, dir / "defaults.ini", "bytes"), bytes);
    EXPECT_EQ(readBack(dir, dir / "defaults.ini", "empty"), Blob{});
}

TEST_F(UserDefaultsWriteTest, AFailedWriteIsLoggedAndLeavesTheFileAsItWas) {
    EXPECT_EQ(failing([&] {
                  defaults.setObject(Blob{'n', 'e', 'w'}, "bytes");
                  defaults.removeObjectForKey("removed");
              }),
              failureLine + failureLine);
    EXPECT_TRUE(sameBytes(file, dir / "before.ini")) << "the file changed";
    // This store still answers with what it was told.
    EXPECT_EQ(defaults.dataForKey("bytes"), (Blob{'n', 'e', 'w'}));
    EXPECT_FALSE(defaults.contains("removed"));
}

TEST_F(UserDefaultsWriteTest, TheNextWriteAfterAFailureStoresTheEarlierChangesToo) {
    failing([&] {
        defaults.setObject(Blob{'n', 'e', 'w'}, "bytes");
        defaults.removeObjectForKey("removed");
    });
    ASSERT_TRUE(setWritable(folder, true));
    testing::internal::CaptureStdout();
    defaults.setObject(Blob{'b', 'm'}, "rootFolderBookmark");
    // The failure is over: nothing more is logged.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readBack(dir, file, "bytes"), (Blob{'n', 'e', 'w'}));
    EXPECT_EQ(readBack(dir, file, "removed"), std::nullopt);
    EXPECT_EQ(readBack(dir, file, "rootFolderBookmark"), (Blob{'b', 'm'}));
}
