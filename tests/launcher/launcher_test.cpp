#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include "app/reopen_server.h"
#include "launcher/single_instance.h"
#include "reopen/program_files.h"
#include "support/temp_dir.h"

// The zorvant executable itself, run as a desktop or a shell would run it: with its own
// environment, its output collected, its exit status read.
namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs argv with exactly the environment given (plus the sanitizers' options), turning this
// thread's event loop meanwhile so that an instance served here can answer.
Result run(std::vector<std::string> argv, std::vector<std::string> environment) {
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "PATH=", 5) == 0 || std::strstr(*variable, "SAN_OPTIONS="))
            environment.emplace_back(*variable);
    }
    std::vector<char*> args, envp;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    Result result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << argv[0] << ": " << std::strerror(spawned);
        return result;
    }
    pollfd pipes[] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[] = {&result.out, &result.err};
    for (int open = 2; open > 0;) {
        QCoreApplication::processEvents();
        if (::poll(pipes, 2, 10) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].fd < 0 || !pipes[i].revents)
                continue;
            char buffer[4096];
            const ssize_t count = ::read(pipes[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else {
                ::close(pipes[i].fd);
                pipes[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool isOneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

class LauncherTest : public ::testing::Test {
protected:
    LauncherTest() { std::filesystem::create_directory(runtime); }

    // A session with no display, unless a test adds one.
    Result launch(std::vector<std::string> arguments = {},
                  std::vector<std::string> environment = {}) {
        arguments.insert(arguments.begin(), ZORVANT_BINARY);
        environment.push_back("XDG_RUNTIME_DIR=" + runtime.native());
        environment.push_back("HOME=" + temp.path().native());
        return run(arguments, environment);
    }

    TempDir temp;
    const std::filesystem::path runtime = temp / "run";
};

} // namespace

TEST_F(LauncherTest, HelpAndVersionAnswerWithoutStartingAnything) {
    const Result help = launch({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: zorvant [--background | --help | --version]\n"))
        << help.out;
    EXPECT_EQ(help.err, "");

    const Result version = launch({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "zorvant " ZORVANT_VERSION "\n");
    EXPECT_EQ(version.err, "");
    // Not even the lock was looked at.
    EXPECT_TRUE(std::filesystem::is_empty(runtime));
}

TEST_F(LauncherTest, AnyOtherArgumentIsRefusedInOneLine) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--verbose"},
                                               {"-h"},
                                               {""},
                                               {"--help", "--version"},
                                               {"--version", "extra"},
                                               {"--background", "--help"},
                                               {"--help", "--background"},
                                               {"-background"},
                                               {"line\nbreak"},
                                               {"-platform", "offscreen"}}) {
        const Result refused = launch(arguments);
        EXPECT_EQ(refused.status, 2) << arguments[0];
        EXPECT_EQ(refused.out, "");
        EXPECT_TRUE(isOneLine(refused.err)) << refused.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(runtime));
}

TEST_F(LauncherTest, WithoutADisplayAFirstLaunchSaysWhyAndExits1) {
    const Result result = launch();
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(isOneLine(result.err)) << result.err;
    EXPECT_NE(result.err.find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(runtime / "zorvant.socket"));
    SingleInstance next(runtime);
    EXPECT_EQ(next.claimOrReopen({}), SingleInstance::Outcome::primary);
}

// A hotkey needs no display of its own to bring up the panel of an instance that has one.
TEST_F(LauncherTest, WithoutADisplayALaterLaunchStillReachesTheRunningInstance) {
    SingleInstance first(runtime);
    ASSERT_EQ(first.claimOrReopen({}), SingleInstance::Outcome::primary);
    ASSERT_TRUE(first.listen());
    ReopenServer server(first.listeningSocket());
    QSignalSpy reopens(&server, &ReopenServer::reopenRequested);

    const Result result = launch({}, {"XDG_ACTIVATION_TOKEN=kwin-1234"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(reopens.size(), 1);
    EXPECT_EQ(reopens.takeFirst()[0].toByteArray(), "kwin-1234");
}

// Checked before the display, and whatever the display: the folder is named with the
// system's own error, and nothing claims that Zorvant is already running.
TEST_F(LauncherTest, AnUnusableRuntimeFolderIsNamedAndNeverTakenForARunningInstance) {
    const std::filesystem::path missing = temp / "missing";
    Result result = run({ZORVANT_BINARY}, {"XDG_RUNTIME_DIR=" + missing.native(), "DISPLAY=:999"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(isOneLine(result.err)) << result.err;
    EXPECT_NE(result.err.find(missing.native() + ":"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(std::strerror(ENOENT)), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("already running"), std::string::npos) << result.err;
}

// A folder this user may not write to, as a real unprivileged user: permission bits deny
// root nothing, so as root the launch runs as nobody.
TEST_F(LauncherTest, AReadOnlyRuntimeFolderIsNamedWithTheRealError) {
    const std::filesystem::path readOnly = temp / "read-only";
    std::filesystem::create_directory(readOnly);
    ::chmod(temp.path().c_str(), 0755);
    ::chmod(readOnly.c_str(), 0555);
    std::vector<std::string> command = {ZORVANT_BINARY};
    if (::geteuid() == 0) {
        command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                         "--clear-groups", "--"});
        std::vector<std::string> probe = command;
        probe.push_back("--version");
        if (::access(command[0].c_str(), X_OK) != 0 || run(probe, {}).status != 0)
            GTEST_SKIP() << "cannot run zorvant as nobody here";
    }
    const Result result = run(command, {"XDG_RUNTIME_DIR=" + readOnly.native(), "DISPLAY=:999"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(isOneLine(result.err)) << result.err;
    EXPECT_NE(result.err.find(readOnly.native() + ":"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(std::strerror(EACCES)), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("already running"), std::string::npos) << result.err;
}

namespace {

// A running instance of the version out before the request had versions, started from a copy
// of its own, named as the installed program is, which a test may replace as a package manager
// would. Ended, if it still runs, with the test.
class OlderInstance {
public:
    struct Options {
        std::string fileName = "zorvant";
        bool withLock = true;
        // Run as another user (root only): the command that switches to it.
        std::vector<std::string> as = {};
    };

    OlderInstance(const TempDir& temp, const std::filesystem::path& runtime, Options options)
        : m_program(temp.makeFolder("older") / options.fileName) {
        std::filesystem::copy_file(ZORVANT_OLDER_INSTANCE, m_program);
        std::filesystem::permissions(m_program, std::filesystem::perms(0755));
        std::vector<std::string> argv = options.as;
        argv.insert(argv.end(), {m_program.native(), runtime.native()});
        if (!options.withLock)
            argv.emplace_back("--without-lock");
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        EXPECT_EQ(::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_output = out[0];
        ::fcntl(m_output, F_SETFL, O_NONBLOCK);
        for (int waited = 0; waited < 10000 && m_read.find('\n') == std::string::npos; waited += 10)
            readOutput(10);
        EXPECT_TRUE(m_read.starts_with("listening\n")) << "the older instance said: " << m_read;
        m_read.erase(0, m_read.find('\n') + 1);
    }
    ~OlderInstance() {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_output);
    }
    OlderInstance(const OlderInstance&) = delete;
    OlderInstance& operator=(const OlderInstance&) = delete;

    pid_t pid() const { return m_pid; }

    // As dpkg does: the new file written beside the old one and renamed over it.
    void replaceProgram() {
        const std::filesystem::path beside = m_program.native() + ".dpkg-new";
        std::filesystem::copy_file(ZORVANT_OLDER_INSTANCE, beside);
        std::filesystem::permissions(beside, std::filesystem::perms(0755));
        std::filesystem::rename(beside, m_program);
    }

    // Every line it read so far. It reports a line before it answers or hangs up, so a launch
    // that has its outcome finds its requests here already.
    std::vector<std::string> lines() {
        readOutput(0);
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = m_read.find('\n', start)) != std::string::npos;
             start = end + 1)
            lines.push_back(m_read.substr(start, end - start));
        return lines;
    }

    bool running() {
        if (m_status >= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
            return true;
        m_status = status;
        return false;
    }

    // The signal that ended it, or 0 when it exited or still ran after 10 seconds.
    int endedBy() {
        for (int waited = 0; waited < 10000 && running(); waited += 10)
            ::poll(nullptr, 0, 10);
        return m_status >= 0 && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
    }

private:
    void readOutput(int waitMs) {
        pollfd entry{m_output, POLLIN, 0};
        if (::poll(&entry, 1, waitMs) <= 0)
            return;
        char buffer[4096];
        for (ssize_t count; (count = ::read(m_output, buffer, sizeof buffer)) > 0;)
            m_read.append(buffer, static_cast<std::size_t>(count));
    }

    std::filesystem::path m_program;
    pid_t m_pid = 0;
    int m_status = -1;
    int m_output = -1;
    std::string m_read;
};

using Lines = std::vector<std::string>;

} // namespace

// An upgrade under an instance of the version out before this one, which knows nothing of
// upgrades: it hangs up on the newer request, and the launch, seeing its program replaced, ends
// it and becomes the running instance. It never got a request that it would have answered
// with its panel.
TEST_F(LauncherTest, AnOlderInstanceWhoseProgramWasReplacedIsEndedAndReplaced) {
    OlderInstance older(temp, runtime, {});
    ASSERT_FALSE(ProgramFiles::replaced(older.pid()));
    older.replaceProgram();
    ASSERT_TRUE(ProgramFiles::replaced(older.pid()));

    SingleInstance launch(runtime);
    EXPECT_EQ(launch.claimOrReopen("tok"), SingleInstance::Outcome::replacedInstance);
    EXPECT_EQ(older.endedBy(), SIGTERM);
    EXPECT_EQ(older.lines(), (Lines{"reopen/2 tok"}));
    EXPECT_TRUE(launch.listen()) << launch.failure();
}

// The launcher itself does the same, and goes on as the first instance: here, with no display,
// as far as saying that it needs one.
TEST_F(LauncherTest, TheLauncherEndsAReplacedOlderInstanceAndGoesOnAsTheFirst) {
    OlderInstance older(temp, runtime, {});
    older.replaceProgram();
    const Result result = launch();
    EXPECT_EQ(older.endedBy(), SIGTERM);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos)
        << result.err;
    EXPECT_EQ(older.lines(), (Lines{"reopen/2"}));
    SingleInstance next(runtime);
    EXPECT_EQ(next.claimOrReopen({}), SingleInstance::Outcome::primary);
}

// Nothing replaced: the older instance is asked again in its own words, brings its panel up
// (it answered), and keeps running; the launch exits 0, as any reopen does.
TEST_F(LauncherTest, AnOlderInstanceWithItsProgramUnchangedIsReopenedNotEnded) {
    OlderInstance older(temp, runtime, {});
    const Result result = launch({}, {"XDG_ACTIVATION_TOKEN=kwin-1234"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(older.lines(), (Lines{"reopen/2 kwin-1234", "reopen kwin-1234"}));
    EXPECT_TRUE(older.running());

    SingleInstance again(runtime);
    EXPECT_EQ(again.claimOrReopen({}), SingleInstance::Outcome::reopened);
    EXPECT_TRUE(older.running());
}

// A replaced program is not enough to be ended: the process must also hold the lock by its
// own word (not one that merely answers on the socket) and run a program named as Zorvant's.
// Each is then asked in version 1 words, and answers.
TEST_F(LauncherTest, OnlyTheReplacedZorvantHoldingTheLockIsEverEnded) {
    {
        OlderInstance other(temp, runtime, {.fileName = "zorvant-helper"});
        other.replaceProgram();
        SingleInstance launch(runtime);
        EXPECT_EQ(launch.claimOrReopen({}), SingleInstance::Outcome::reopened);
        EXPECT_EQ(other.lines(), (Lines{"reopen/2", "reopen"}));
        EXPECT_TRUE(other.running()) << "a program of another name was ended";
    }
    SingleInstance holder(runtime);
    ASSERT_EQ(holder.claimOrReopen({}), SingleInstance::Outcome::primary);
    OlderInstance answering(temp, runtime, {.withLock = false});
    answering.replaceProgram();
    SingleInstance launch(runtime);
    EXPECT_EQ(launch.claimOrReopen({}), SingleInstance::Outcome::reopened);
    EXPECT_EQ(answering.lines(), (Lines{"reopen/2", "reopen"}));
    EXPECT_TRUE(answering.running()) << "a process that does not hold the lock was ended";
}

// A process of another user is never sent a signal, whatever its files. Only root can start
// one, so the check runs as root, as CI runs the tests.
TEST_F(LauncherTest, AReplacedInstanceOfAnotherUserIsNeverEnded) {
    const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                               "--clear-groups", "--"};
    if (::geteuid() != 0 || ::access(asNobody[0].c_str(), X_OK) != 0)
        GTEST_SKIP() << "only root can start a process of another user";
    ::chmod(temp.path().c_str(), 0755);
    ::chmod(runtime.c_str(), 0777);
    OlderInstance nobody(temp, runtime, {.as = asNobody});
    nobody.replaceProgram();
    ASSERT_TRUE(ProgramFiles::replaced(nobody.pid()));
    SingleInstance launch(runtime);
    EXPECT_EQ(launch.claimOrReopen({}), SingleInstance::Outcome::reopened);
    EXPECT_EQ(nobody.lines(), (Lines{"reopen/2", "reopen"}));
    EXPECT_TRUE(nobody.running()) << "a process of another user was ended";
}

// An installed launcher loads the module installed beside it, and only if it comes from its
// own build: one of another build (an upgrade half done, a file copied in by hand) is named
// with its build, and its entry is never called.
TEST_F(LauncherTest, AMissingModuleOrOneOfAnotherBuildIsNamedAndNeverRun) {
    const std::filesystem::path launcher = temp.makeFolder("prefix/bin") / "zorvant";
    std::filesystem::copy_file(ZORVANT_INSTALLED_BINARY, launcher);
    const std::filesystem::path module =
        (temp / "prefix/bin" / ZORVANT_INSTALLED_MODULE).lexically_normal();
    const std::vector<std::string> session = {"XDG_RUNTIME_DIR=" + runtime.native(),
                                              "DISPLAY=:999"};

    const Result missing = run({launcher}, session);
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(isOneLine(missing.err)) << missing.err;
    EXPECT_NE(missing.err.find("not installed completely"), std::string::npos) << missing.err;

    std::filesystem::create_directories(module.parent_path());
    std::filesystem::copy_file(ZORVANT_FOREIGN_MODULE, module);
    const Result foreign = run({launcher}, session);
    EXPECT_EQ(foreign.status, 1) << "the module's entry ran";
    EXPECT_TRUE(isOneLine(foreign.err)) << foreign.err;
    for (const std::string& words :
         {std::string("libzorvant-gui.so is from build \"another-build\""),
          std::string("not from the launcher's build"), std::string("reinstall Zorvant")})
        EXPECT_NE(foreign.err.find(words), std::string::npos) << foreign.err;
}

// Without $XDG_RUNTIME_DIR the lock lies in a private folder under $TMPDIR, named by the
// numeric user id: no user name is looked up, and a user id that names no user (a container's,
// one of a directory service that does not answer) works as well. The folder is made private
// again if it was opened up, and refused if it is another user's.
TEST_F(LauncherTest, WithoutARuntimeFolderTheLockLiesInAFolderNamedByTheUserId) {
    ::chmod(temp.path().c_str(), 0777);
    const std::vector<std::string> session = {"TMPDIR=" + temp.path().native()};
    const std::filesystem::path folder = temp / ("runtime-" + std::to_string(::geteuid()));
    const auto mode = [](const std::filesystem::path& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };

    Result result = run({ZORVANT_BINARY}, session);
    EXPECT_NE(result.err.find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos)
        << result.err;
    EXPECT_EQ(mode(folder), 0700u);
    EXPECT_TRUE(std::filesystem::exists(folder / "zorvant.lock"));

    ::chmod(folder.c_str(), 0755);
    result = run({ZORVANT_BINARY}, session);
    EXPECT_NE(result.err.find("neither DISPLAY"), std::string::npos) << result.err;
    EXPECT_EQ(mode(folder), 0700u);

    if (::geteuid() != 0)
        return;
    // Root can be a user id that names no one, and can give the folder to another user.
    const std::vector<std::string> asUnknown = {
        "/usr/bin/setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", "--",
        ZORVANT_BINARY};
    result = run(asUnknown, session);
    EXPECT_NE(result.err.find("neither DISPLAY"), std::string::npos) << result.err;
    EXPECT_EQ(mode(temp / "runtime-54321"), 0700u);
    EXPECT_TRUE(std::filesystem::exists(temp / "runtime-54321" / "zorvant.lock"));

    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    result = run({ZORVANT_BINARY}, session);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(folder.native() + ": it belongs to another user"), std::string::npos)
        << result.err;
}
