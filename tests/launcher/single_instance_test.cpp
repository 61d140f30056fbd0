#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <string>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/reopen_server.h"
#include "launcher/single_instance.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using Outcome = SingleInstance::Outcome;

namespace {

// Short enough for a test, long enough for a loaded machine to serve a request in.
constexpr SingleInstance::Timing quick{.connectWithin = 400ms, .answerWithin = 400ms};
constexpr SingleInstance::Timing patient{.connectWithin = 20s, .answerWithin = 20s};

// A later launch, on a thread of its own while this one runs the event loop for the first.
class LaterLaunch {
public:
    LaterLaunch(const std::filesystem::path& folder, std::string token = {},
                SingleInstance::Timing timing = patient)
        : m_outcome(std::async(std::launch::async, [folder, token, timing] {
              SingleInstance later(folder, timing);
              return later.claimOrReopen(token);
          })) {}

    Outcome outcome() {
        EXPECT_TRUE(QTest::qWaitFor(
            [this] { return m_outcome.wait_for(0s) == std::future_status::ready; }, 30000));
        return m_outcome.get();
    }

private:
    std::future<Outcome> m_outcome;
};

sockaddr_un addressOf(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.native().copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

int connectTo(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const sockaddr_un address = addressOf(path);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// Sends bytes and collects whatever comes back until the server hangs up.
std::string exchange(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = connectTo(path);
    std::string reply;
    std::size_t sent = 0;
    bool closed = false;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (sent < bytes.size()) {
                const ssize_t count =
                    ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (count > 0)
                    sent += static_cast<std::size_t>(count);
                else if (errno == EPIPE || errno == ECONNRESET)
                    sent = bytes.size();
            }
            char buffer[64];
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count > 0)
                reply.append(buffer, static_cast<std::size_t>(count));
            closed = count == 0 || (count < 0 && errno == ECONNRESET);
            return closed;
        },
        10000));
    ::close(fd);
    return reply;
}

// A running instance: the lock, the socket and the server on this thread's event loop.
struct RunningInstance {
    explicit RunningInstance(const std::filesystem::path& folder)
        : instance(folder), server(serve(instance)) {}
    static std::unique_ptr<ReopenServer> serve(SingleInstance& instance) {
        EXPECT_EQ(instance.claimOrReopen({}), Outcome::primary);
        EXPECT_TRUE(instance.listen()) << instance.failure();
        return std::make_unique<ReopenServer>(instance.listeningSocket());
    }
    SingleInstance instance;
    std::unique_ptr<ReopenServer> server;
    QSignalSpy reopens{server.get(), &ReopenServer::reopenRequested};
};

} // namespace

TEST(SingleInstanceTest, ALaterLaunchReachesTheRunningInstanceWithItsToken) {
    TempDir temp;
    const mode_t umask = ::umask(0);
    RunningInstance first(temp.path());
    ::umask(umask);
    struct stat socket {};
    ASSERT_EQ(::lstat(first.instance.socketPath().c_str(), &socket), 0);
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(socket.st_mode & 0777, 0600u);

    for (const std::string token : {"", "gnome-shell/Zorvant/2417-1-h_T5"}) {
        EXPECT_EQ(LaterLaunch(temp.path(), token).outcome(), Outcome::reopened);
        ASSERT_EQ(first.reopens.size(), 1);
        EXPECT_EQ(first.reopens.takeFirst()[0].toByteArray().toStdString(), token);
    }
    // A token that no request may carry is left behind, not the request.
    EXPECT_EQ(LaterLaunch(temp.path(), "two words").outcome(), Outcome::reopened);
    ASSERT_EQ(first.reopens.size(), 1);
    EXPECT_TRUE(first.reopens.takeFirst()[0].toByteArray().isEmpty());
}

// Requests that are not ours are hung up on unanswered and announce nothing, and a client that
// stays silent holds up neither the requests after it nor the instance, which drops it.
TEST(SingleInstanceTest, OnlyARequestIsAnsweredAndASilentClientHoldsNothingUp) {
    TempDir temp;
    RunningInstance first(temp.path());
    const int silent = connectTo(first.instance.socketPath());
    for (const std::string& junk :
         {std::string("hello\n"), std::string("REOPEN\n"), std::string("reopen bad\x01token\n"),
          std::string("reopen two words\n"), "reopen " + std::string(6000, 'a') + "\n",
          std::string(10000, 'x')}) {
        EXPECT_EQ(exchange(first.instance.socketPath(), junk), "") << junk.substr(0, 20);
    }
    EXPECT_TRUE(first.reopens.isEmpty());
    EXPECT_EQ(exchange(first.instance.socketPath(), "reopen tok\n"), "ok\n");
    ASSERT_EQ(first.reopens.size(), 1);
    EXPECT_EQ(first.reopens.takeFirst()[0].toByteArray(), "tok");

    char byte;
    EXPECT_EQ(::recv(silent, &byte, 1, 0), -1) << "the silent client was hung up on too early";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::recv(silent, &byte, 1, 0) == 0; }, 10000));
    ::close(silent);
}

// However many clients connect and say nothing, a request that comes after them is served.
TEST(SingleInstanceTest, AFloodOfSilentClientsDoesNotShutOutARequest) {
    TempDir temp;
    RunningInstance first(temp.path());
    std::vector<int> silent;
    for (int i = 0; i < 100; ++i) {
        silent.push_back(connectTo(first.instance.socketPath()));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(exchange(first.instance.socketPath(), "reopen\n"), "ok\n");
    EXPECT_EQ(first.reopens.size(), 1);
    for (const int fd : silent)
        ::close(fd);
}

// A crash leaves the lock file and the socket behind; neither is held by anyone, so the next
// launch is the first one again and serves requests on a new socket.
TEST(SingleInstanceTest, AStaleLockAndSocketAreTakenOver) {
    TempDir temp;
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = addressOf(temp / "zorvant.socket");
        ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
        std::ofstream(temp / "zorvant.lock") << "99999999\n";
    }
    EXPECT_EQ(LaterLaunch(temp.path(), {}, quick).outcome(), Outcome::primary);
    RunningInstance first(temp.path());
    EXPECT_EQ(LaterLaunch(temp.path()).outcome(), Outcome::reopened);
    EXPECT_EQ(first.reopens.size(), 1);
}

// The first instance holds the lock before it listens, and listens before it serves: a launch
// in between waits for it rather than giving up or starting a second instance.
TEST(SingleInstanceTest, ALaterLaunchWaitsForAFirstInstanceStillStarting) {
    TempDir temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.claimOrReopen({}), Outcome::primary);
    LaterLaunch later(temp.path(), "token");
    std::unique_ptr<ReopenServer> server;
    std::optional<QSignalSpy> reopens;
    QTimer::singleShot(300, [&] { ASSERT_TRUE(first.listen()); });
    QTimer::singleShot(600, [&] {
        server = std::make_unique<ReopenServer>(first.listeningSocket());
        reopens.emplace(server.get(), &ReopenServer::reopenRequested);
    });
    EXPECT_EQ(later.outcome(), Outcome::reopened);
    ASSERT_TRUE(reopens && reopens->size() == 1);
    EXPECT_EQ(reopens->takeFirst()[0].toByteArray(), "token");
}

// An instance that holds the lock but never listens, or listens but never answers, is
// reported, not taken for one that answered.
TEST(SingleInstanceTest, ASilentFirstInstanceDoesNotAnswer) {
    TempDir temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.claimOrReopen({}), Outcome::primary);
    EXPECT_EQ(LaterLaunch(temp.path(), {}, quick).outcome(), Outcome::notAnswering);
    ASSERT_TRUE(first.listen());
    EXPECT_EQ(LaterLaunch(temp.path(), {}, quick).outcome(), Outcome::notAnswering);
}

// A first instance that ends while a later launch waits for it (no display, a broken runtime
// folder) leaves the lock free: the waiting launch becomes the first one itself.
TEST(SingleInstanceTest, AFirstInstanceThatGivesUpLeavesTheLockToTheNext) {
    TempDir temp;
    auto first = std::make_unique<SingleInstance>(temp.path());
    ASSERT_EQ(first->claimOrReopen({}), Outcome::primary);
    LaterLaunch later(temp.path());
    QTimer::singleShot(200, [&] { first.reset(); });
    EXPECT_EQ(later.outcome(), Outcome::primary);
}

// The lock and the socket are not inherited: a file manager that the instance started and
// that outlives it does not keep the next launch from being the first.
TEST(SingleInstanceTest, ChildrenOfTheInstanceHoldNeitherLockNorSocket) {
    TempDir temp;
    auto first = std::make_unique<RunningInstance>(temp.path());
    pid_t child = 0;
    char sleep[] = "sleep", seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(temp / "zorvant.socket"));
    RunningInstance next(temp.path());
    EXPECT_EQ(LaterLaunch(temp.path()).outcome(), Outcome::reopened);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// A runtime folder that cannot hold the lock or the socket is named in the failure, with the
// system's own words for what went wrong, and never taken for a running instance.
TEST(SingleInstanceTest, AnUnusableRuntimeFolderIsReportedAsSuch) {
    TempDir temp;
    const std::filesystem::path missing = temp / "missing", file = temp.makeFile("file");
    const std::filesystem::path deep = temp.makeFolder(std::string(120, 'd'));
    for (const auto& [folder, error] :
         {std::pair{missing, ENOENT}, std::pair{file, ENOTDIR}, std::pair{deep, ENAMETOOLONG}}) {
        SingleInstance instance(folder, quick);
        const Outcome outcome = instance.claimOrReopen({});
        if (outcome == Outcome::primary)
            EXPECT_FALSE(instance.listen()) << folder;
        else
            EXPECT_EQ(outcome, Outcome::failed) << folder;
        const std::string& failure = instance.failure();
        EXPECT_NE(failure.find(folder.native()), std::string::npos) << failure;
        EXPECT_NE(failure.find(std::strerror(error)), std::string::npos) << failure;
        EXPECT_EQ(failure.find('\n'), std::string::npos) << failure;
    }
}

// Launchers of before the request had versions send version 1; a newer instance answers them
// exactly as before, and answers a version 2 request in version 2 words.
TEST(SingleInstanceTest, ANewerInstanceAnswersEachLauncherInItsOwnVersion) {
    TempDir temp;
    RunningInstance first(temp.path());
    EXPECT_EQ(exchange(first.instance.socketPath(), "reopen tok\n"), "ok\n");
    EXPECT_EQ(exchange(first.instance.socketPath(), "reopen/2 tok2\n"), "ok/2\n");
    ASSERT_EQ(first.reopens.size(), 2);
    EXPECT_EQ(first.reopens.takeFirst()[0].toByteArray(), "tok");
    EXPECT_EQ(first.reopens.takeFirst()[0].toByteArray(), "tok2");
}

namespace {

// An instance served by hand on a thread of its own: for each connection, the line it read
// and what it answered (nothing: it hangs up).
class HandServedInstance {
public:
    HandServedInstance(const std::filesystem::path& folder,
                       std::function<std::string(const std::string&)> answer, int connections)
        : m_instance(std::make_unique<SingleInstance>(folder)) {
        EXPECT_EQ(m_instance->claimOrReopen({}), Outcome::primary);
        EXPECT_TRUE(m_instance->listen());
        m_served = std::async(std::launch::async, [this, answer, connections] {
            std::vector<std::string> lines;
            while (static_cast<int>(lines.size()) < connections) {
                pollfd incoming{m_instance->listeningSocket(), POLLIN, 0};
                if (::poll(&incoming, 1, 20000) <= 0)
                    break;
                const int fd = ::accept4(m_instance->listeningSocket(), nullptr, nullptr, 0);
                if (fd < 0)
                    continue;
                std::string line;
                char c;
                while (::recv(fd, &c, 1, 0) == 1 && c != '\n')
                    line.push_back(c);
                const std::string reply = answer(line);
                if (!reply.empty())
                    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                ::close(fd);
                lines.push_back(line);
            }
            return lines;
        });
    }
    // The lines read, once the connections expected have come; then the lock is let go.
    std::vector<std::string> lines() {
        auto lines = m_served.get();
        m_instance.reset();
        return lines;
    }

private:
    std::unique_ptr<SingleInstance> m_instance;
    std::future<std::vector<std::string>> m_served;
};

} // namespace

// An instance of the version out before this one hangs up on a version 2 request: the launch
// asks again in version 1, and gets its panel.
TEST(SingleInstanceTest, ANewerLauncherFallsBackToAVersion1Instance) {
    TempDir temp;
    HandServedInstance older(
        temp.path(),
        [](const std::string& line) { return line.starts_with("reopen/") ? "" : "ok\n"; }, 2);
    EXPECT_EQ(LaterLaunch(temp.path(), "tok").outcome(), Outcome::reopened);
    EXPECT_EQ(older.lines(), (std::vector<std::string>{"reopen/2 tok", "reopen tok"}));
}

// An instance on its way out hangs up on every request, then lets the lock go: the launch
// tries the lock again rather than report an instance that does not answer.
TEST(SingleInstanceTest, AnInstanceThatHangsUpAndEndsLeavesTheLockToTheLaunch) {
    TempDir temp;
    HandServedInstance leaving(
        temp.path(), [](const std::string&) { return ""; }, 2);
    LaterLaunch later(temp.path(), {}, quick);
    EXPECT_EQ(leaving.lines(), (std::vector<std::string>{"reopen/2", "reopen"}));
    EXPECT_EQ(later.outcome(), Outcome::primary);
}

// A version 2 instance whose program was replaced says so, shows nothing and is asked to end;
// the launch waits for the lock and takes the instance's place, to show the panel itself.
TEST(SingleInstanceTest, AReplacedInstanceEndsAndTheLaunchTakesItsPlace) {
    TempDir temp;
    auto old = std::make_unique<SingleInstance>(temp.path());
    ASSERT_EQ(old->claimOrReopen({}), Outcome::primary);
    ASSERT_TRUE(old->listen());
    auto server = std::make_unique<ReopenServer>(old->listeningSocket(), [] { return true; });
    QSignalSpy reopens(server.get(), &ReopenServer::reopenRequested);
    QObject::connect(server.get(), &ReopenServer::replacedOnDisk, [&] {
        QTimer::singleShot(0, [&] {
            server.reset();
            old.reset();
        });
    });
    EXPECT_EQ(LaterLaunch(temp.path(), "tok").outcome(), Outcome::replacedInstance);
    EXPECT_FALSE(old);
    EXPECT_TRUE(reopens.isEmpty());
    // Unchanged files never end an instance.
    RunningInstance current(temp.path());
    EXPECT_EQ(LaterLaunch(temp.path()).outcome(), Outcome::reopened);
    EXPECT_EQ(current.reopens.size(), 1);
}
