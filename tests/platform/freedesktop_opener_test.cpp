#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTest>

#include "platform/freedesktop_opener.h"
#include "support/temp_dir.h"

namespace {

// Records what the opener hands xdg-open: the arguments, and the activation token.
constexpr char standIn[] = "#!/bin/sh\n"
                           "printf '%s\\0' \"$@\" >> \"$(dirname \"$0\")/../opened\"\n"
                           "printf '%s\\n' \"${XDG_ACTIVATION_TOKEN-none}\" >> "
                           "\"$(dirname \"$0\")/../tokens\"\n";

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A file manager on the test's bus: what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList uris;
    QString startupId;
public Q_SLOTS:
    void ShowFolders(const QStringList& shown, const QString& id) {
        uris += shown;
        startupId = id;
    }
};

// A session bus of the test's own, the session bus of this whole process, and a stand-in
// xdg-open first on the PATH.
class FreedesktopOpenerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        int address[2];
        ASSERT_EQ(::pipe2(address, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, address[1], 1);
        char program[] = "dbus-daemon", session[] = "--session", nofork[] = "--nofork",
             print[] = "--print-address";
        char* argv[] = {program, session, nofork, print, nullptr};
        ASSERT_EQ(::posix_spawnp(&bus, program, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(address[1]);
        std::string line;
        char c;
        while (::read(address[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        ::close(address[0]);
        ASSERT_FALSE(line.empty());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", line.c_str(), 1);
    }
    static void TearDownTestSuite() {
        ::kill(bus, SIGTERM);
        ::waitpid(bus, nullptr, 0);
    }

    FreedesktopOpenerTest() {
        const std::filesystem::path script = temp / "bin" / "xdg-open";
        std::filesystem::create_directories(script.parent_path());
        std::ofstream(script) << standIn;
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ::setenv("PATH", (script.parent_path().native() + ":" + path).c_str(), 1);
    }
    ~FreedesktopOpenerTest() override { ::setenv("PATH", path.c_str(), 1); }

    // The arguments xdg-open was given, once it has been given some.
    std::vector<std::string> opened() {
        std::vector<std::string> arguments;
        if (!QTest::qWaitFor([&] { return std::filesystem::exists(temp / "tokens"); }, 10000))
            return arguments;
        std::string all = contents(temp / "opened");
        for (std::size_t end; (end = all.find('\0')) != std::string::npos; all.erase(0, end + 1))
            arguments.push_back(all.substr(0, end));
        return arguments;
    }

    // Whether every child this process has, but the bus, has been collected.
    static bool onlyTheBusIsAChild() {
        std::string children;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            children += contents(task.path() / "children");
        return children == std::to_string(bus) + " ";
    }

    static inline pid_t bus = 0;
    const std::string path = std::getenv("PATH");
    TempDir temp;
};

} // namespace

// A file goes to xdg-open as one argument of exactly its bytes, with the activation token the
// desktop gave; once it has ended it is reaped, not left a zombie.
TEST_F(FreedesktopOpenerTest, AFileGoesToXdgOpenByteForByteAndIsReaped) {
    const std::filesystem::path file = temp.makeFile("caf\xe9\nline 'quoted' $HOME.txt");
    FreedesktopOpener opener([] { return std::string("token-7"); });
    opener.open(file, false);
    EXPECT_EQ(opened(), std::vector<std::string>{file.native()});
    EXPECT_EQ(contents(temp / "tokens"), "token-7\n");
    EXPECT_TRUE(QTest::qWaitFor(onlyTheBusIsAChild, 10000));
}

// A folder is shown by the file manager, with its URI percent-encoded byte for byte and the
// startup id; xdg-open is not started as well. That it is a folder is the caller's word: the
// opener asks nothing of the file system, whose share may not answer (here it is not there).
TEST_F(FreedesktopOpenerTest, AFolderGoesToTheFileManagerWithTheStartupId) {
    FakeFileManager fileManager;
    QDBusConnection connection = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(std::getenv("DBUS_SESSION_BUS_ADDRESS")), "fileManager");
    ASSERT_TRUE(connection.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(connection.registerService("org.freedesktop.FileManager1"));

    const std::filesystem::path folder = temp / "a-123/12345 caf\xe9";
    FreedesktopOpener opener([] { return std::string("wayland-token"); });
    opener.open(folder, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fileManager.uris.isEmpty(); }, 10000));
    EXPECT_EQ(fileManager.uris,
              QStringList{"file://" + QString::fromStdString(temp.path().native()) +
                          "/a-123/12345%20caf%E9/"});
    EXPECT_EQ(fileManager.startupId, "wayland-token");
    connection.unregisterService("org.freedesktop.FileManager1");
    QDBusConnection::disconnectFromBus("fileManager");
    // Once the answer is in, nothing was started: a spawned xdg-open would still be a child, or
    // would have left its mark.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opener.isAskingTheFileManager(); }, 10000));
    EXPECT_TRUE(onlyTheBusIsAChild());
    EXPECT_FALSE(std::filesystem::exists(temp / "opened"));
}

// With no file manager on the bus, the folder still opens: the bus's answer sends it on to
// xdg-open.
TEST_F(FreedesktopOpenerTest, WithoutAFileManagerAFolderGoesToXdgOpen) {
    const std::filesystem::path folder = temp.makeFolder("a-J0001/J000123 New");
    FreedesktopOpener opener;
    opener.open(folder, true);
    EXPECT_EQ(opened(), std::vector<std::string>{folder.native()});
    EXPECT_EQ(contents(temp / "tokens"), "none\n");
    EXPECT_TRUE(QTest::qWaitFor(onlyTheBusIsAChild, 10000));
}

TEST_F(FreedesktopOpenerTest, AMissingXdgOpenIsReportedInOneLine) {
    ::setenv("PATH", temp.makeFolder("empty").c_str(), 1);
    testing::internal::CaptureStderr();
    FreedesktopOpener().open(temp.makeFile("notes.txt"), false);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("xdg-open was not found"), std::string::npos) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
}

#include "freedesktop_opener_test.moc"
