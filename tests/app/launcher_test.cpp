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
#include "app/single_instance.h"
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
