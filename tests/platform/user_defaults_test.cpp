#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>

#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

namespace {

// What a store on the file reports when it is made, and what it then keeps, all as text.
std::string useStore(const std::filesystem::path& file, const UserDefaults::FileCheck& check) {
    testing::internal::CaptureStdout();
    UserDefaults defaults(file, check);
    std::string seen = testing::internal::GetCapturedStdout();
    seen += defaults.contains("recentDockets") ? "had recents; " : "empty; ";
    defaults.setObject(Blob{'n', 'e', 'w'}, "recentDockets");
    defaults.setObject(Blob{'b'}, "rootFolderBookmark");
    defaults.removeObjectForKey("rootFolderBookmark");
    const auto kept = defaults.dataForKey("recentDockets");
    seen += kept == Blob{'n', 'e', 'w'} && !defaults.contains("rootFolderBookmark")
                ? "kept in memory"
                : "lost";
    return seen;
}

std::string notSaved(const std::filesystem::path& file, const std::string& problem) {
    return "⚠️ Failed to read user defaults: file://" + file.string() + " " + problem +
           "; changes are not saved in this run\n";
}

// The names in the folder and the bytes of the one file, to show that nothing was written.
std::string folderState(const std::filesystem::path& folder, const std::filesystem::path& file) {
    std::string state;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        state += entry.path().filename().string() + " ";
    if (std::filesystem::is_regular_file(file))
        state += std::string(std::istreambuf_iterator<char>(std::ifstream(file).rdbuf()), {});
    return state;
}

} // namespace

// A settings file that cannot be read, or is no file at all, is reported in one line and then
// never touched: the store starts empty, keeps changes in memory, and writes nothing there, so
// that what the file holds survives the run. A FIFO is not even opened (that would hang).
TEST(UserDefaults, LeavesASettingsFileItCannotReadAlone) {
    TempDir dir;
    const auto folder = dir.makeFolder("config");
    const auto file = folder / "Zorvant.ini";
    std::ofstream(file) << "[General]\nrecentDockets=@ByteArray([])\n";
    const std::string before = folderState(folder, file);
    auto denied = [](const std::filesystem::path&) -> std::optional<std::string> {
        return "cannot be read (Permission denied)";
    };
    EXPECT_EQ(useStore(file, denied),
              notSaved(file, "cannot be read (Permission denied)") + "empty; kept in memory");
    EXPECT_EQ(folderState(folder, file), before);
    EXPECT_EQ(useStore(file, UserDefaults::checkFile), "had recents; kept in memory");

    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, file.c_str(), IN_OPEN), 0);
    EXPECT_EQ(useStore(file, UserDefaults::checkFile),
              notSaved(file, "is not a regular file") + "empty; kept in memory");
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the FIFO was opened";
    ::close(watch);
    EXPECT_EQ(folderState(folder, file), "Zorvant.ini ");
    EXPECT_TRUE(std::filesystem::is_fifo(file));

    // A folder where the file should be, and a path through something that is not a folder.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(UserDefaults::checkFile(file), "is not a regular file");
    EXPECT_EQ(UserDefaults::checkFile(dir.makeFile("plain") / "Zorvant.ini"),
              "cannot be read (Not a directory)");
    EXPECT_EQ(UserDefaults::checkFile(folder / "absent.ini"), std::nullopt);
}

// The same as an ordinary user, for whom permission bits count: a file of mode 000, and one
// in a folder the user may not enter. Run in a child that gives up root.
TEST(UserDefaults, AnOrdinaryUserCannotReadAFileOfMode000AndItStaysAsItWas) {
    TempDir dir;
    const auto folder = dir.makeFolder("config");
    const auto file = folder / "Zorvant.ini";
    const auto closed = dir.makeFolder("closed");
    std::ofstream(file) << "[General]\nrecentDockets=@ByteArray([])\n";
    std::filesystem::permissions(file, std::filesystem::perms::none);
    std::filesystem::permissions(closed, std::filesystem::perms::none);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    const std::string before = folderState(folder, file);

    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) || ::setresgid(nobody, nobody, nobody) ||
                                 ::setresuid(nobody, nobody, nobody)))
            ::_exit(10);
        if (::access(file.c_str(), R_OK) == 0 || ::access(folder.c_str(), W_OK) != 0)
            ::_exit(10);
        const std::string seen = useStore(file, UserDefaults::checkFile) + "\n" +
                                 *UserDefaults::checkFile(closed / "Zorvant.ini");
        ::_exit(::write(output[1], seen.data(), seen.size()) == ssize_t(seen.size()) ? 0 : 1);
    }
    ::close(output[1]);
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    ::close(output[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 10)
        GTEST_SKIP() << "no ordinary user to run as here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(seen, notSaved(file, "cannot be read (Permission denied)") +
                        "empty; kept in memory\ncannot be read (Permission denied)");
    EXPECT_EQ(folderState(folder, file), before);
}
