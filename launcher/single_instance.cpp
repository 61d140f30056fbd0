#include "launcher/single_instance.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "reopen/program_files.h"
#include "reopen/reopen_request.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int listenBacklog = 16;

// Without $XDG_RUNTIME_DIR: a folder of this user's own under the temporary folder.
std::filesystem::path fallbackFolder() {
    const char* temporary = std::getenv("TMPDIR");
    std::filesystem::path folder = temporary && *temporary == '/' ? temporary : "/tmp";
    return folder / ("runtime-" + std::to_string(::geteuid()));
}

bool isFallback(const std::filesystem::path& folder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return !(runtime && *runtime == '/') && folder == fallbackFolder();
}

std::filesystem::path userRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime == '/' ? std::filesystem::path(runtime) : fallbackFolder();
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

sockaddr_un socketAddress(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    return address;
}

bool fitsSocketAddress(const std::filesystem::path& path) {
    return path.native().size() < sizeof(sockaddr_un::sun_path);
}

} // namespace

SingleInstance::SingleInstance(std::filesystem::path runtimeFolder)
    : SingleInstance(std::move(runtimeFolder), Timing{}) {}

SingleInstance::SingleInstance(std::filesystem::path runtimeFolder, Timing timing)
    : m_folder(runtimeFolder.empty() ? userRuntimeFolder() : std::move(runtimeFolder)),
      m_timing(timing) {}

SingleInstance::~SingleInstance() {
    if (m_listening >= 0) {
        ::close(m_listening);
        // Still holding the lock, the socket file is ours unless someone replaced it.
        struct stat info {};
        if (::lstat(socketPath().c_str(), &info) == 0 && info.st_ino == m_socketInode)
            ::unlink(socketPath().c_str());
    }
    if (m_lock >= 0)
        ::close(m_lock);
}

bool SingleInstance::fail(std::string_view what, int error) {
    m_failure = "Zorvant cannot use its runtime folder " + m_folder.native() + ": " +
                std::string(what) + ": " + std::strerror(error);
    return false;
}

bool SingleInstance::prepareFolder() {
    // $XDG_RUNTIME_DIR is the session's to make; the fallback is ours, and must stay private
    // because it lies in a folder that every user can write.
    if (!isFallback(m_folder))
        return true;
    if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot create it", errno);
    struct stat info {};
    if (::lstat(m_folder.c_str(), &info) != 0)
        return fail("cannot examine it", errno);
    if (!S_ISDIR(info.st_mode))
        return fail("it is not a folder", ENOTDIR);
    if (info.st_uid != ::geteuid())
        return fail("it belongs to another user", EPERM);
    if ((info.st_mode & 077) != 0 && ::chmod(m_folder.c_str(), 0700) != 0)
        return fail("cannot make it private", errno);
    return true;
}

SingleInstance::LockState SingleInstance::tryLock() {
    if (m_lock < 0) {
        m_lock = ::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_lock < 0) {
            fail("cannot open zorvant.lock", errno);
            return LockState::error;
        }
    }
    for (;;) {
        if (::flock(m_lock, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno == EWOULDBLOCK)
            return LockState::held;
        if (errno != EINTR) {
            fail("cannot lock zorvant.lock", errno);
            return LockState::error;
        }
    }
    // For whoever looks: which process holds it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_lock, 0) == 0) {
        [[maybe_unused]] const auto written = ::pwrite(m_lock, pid.data(), pid.size(), 0);
    }
    return LockState::taken;
}

pid_t SingleInstance::lockHolder() const {
    char text[16];
    const ssize_t length = ::pread(m_lock, text, sizeof text - 1, 0);
    if (length <= 0)
        return 0;
    text[length] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && *end == '\n' && pid > 0 && pid <= std::numeric_limits<pid_t>::max()
               ? static_cast<pid_t>(pid)
               : 0;
}

SingleInstance::Exchange SingleInstance::deliver(const std::string& request) {
    const std::filesystem::path path = socketPath();
    if (!fitsSocketAddress(path))
        return {Delivery::unreachable};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return {Delivery::unreachable};
    const sockaddr_un address = socketAddress(path);
    // Not listening yet (no file, or refused), or its queue is full: try again later.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return {Delivery::unreachable};
    }
    // Only a process of this user's own is ever told to end.
    Exchange exchange{Delivery::silent};
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 && peer.uid == ::geteuid())
        exchange.peer = peer.pid;
    const auto deadline = Clock::now() + m_timing.answerWithin;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t count =
            ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline)) {
                ::close(fd);
                return exchange;
            }
        } else {
            ::close(fd);
            exchange.delivery = Delivery::hungUp;
            return exchange;
        }
    }
    std::string reply;
    char buffer[maximumReopenAnswerBytes];
    bool closed = false;
    while (reply.find('\n') == std::string::npos && reply.size() < maximumReopenAnswerBytes) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            reply.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLIN, deadline))
                break;
        } else {
            closed = true;
            break;
        }
    }
    ::close(fd);
    if (reply == reopenAnswer || reply == reopenAnswerV2)
        exchange.delivery = Delivery::answered;
    else if (reply == replacedAnswerV2)
        exchange.delivery = Delivery::replaced;
    else if (closed && reply.empty())
        exchange.delivery = Delivery::hungUp;
    return exchange;
}

SingleInstance::Outcome SingleInstance::claimOrReopen(std::string_view activationToken) {
    if (!prepareFolder())
        return Outcome::failed;
    const std::string request = reopenRequestLine(activationToken);
    auto deadline = Clock::now() + m_timing.connectWithin;
    bool replacing = false;
    const auto replace = [&] {
        // The instance being replaced gets the time to end that a starting one gets to listen.
        if (!std::exchange(replacing, true))
            deadline = Clock::now() + m_timing.connectWithin;
    };
    for (;;) {
        switch (tryLock()) {
        case LockState::taken:
            return replacing ? Outcome::replacedInstance : Outcome::primary;
        case LockState::error:
            return Outcome::failed;
        case LockState::held:
            break;
        }
        // Every turn asks again, rather than only waiting for the lock: a launch beside this
        // one may have taken it over from a replaced instance, and that new one answers.
        const Exchange exchange = deliver(request);
        switch (exchange.delivery) {
        case Delivery::answered:
            return Outcome::reopened;
        case Delivery::replaced:
            replace();
            break;
        case Delivery::silent:
            return Outcome::notAnswering;
        case Delivery::hungUp:
            // A version 1 instance knows nothing of upgrades: look at its files from here.
            // SIGTERM ends it cleanly; one that has not reached its event loop yet has nothing
            // to save, and ends at once. Only the process that answered on the socket, holds
            // the lock by its own word and runs Zorvant is ended: not one that a launch beside
            // this one replaced already (the lock names the new instance then), nor a process
            // that took the old one's PID.
            if (exchange.peer > 0 && exchange.peer == lockHolder() &&
                ProgramFiles::runsZorvant(exchange.peer) && ProgramFiles::replaced(exchange.peer)) {
                ::kill(exchange.peer, SIGTERM);
                replace();
                break;
            }
            switch (deliver(reopenRequestLine(activationToken, 1)).delivery) {
            case Delivery::answered:
                return Outcome::reopened;
            case Delivery::silent:
                return Outcome::notAnswering;
            default:
                break;
            }
            break;
        case Delivery::unreachable:
            break;
        }
        if (Clock::now() >= deadline)
            return Outcome::notAnswering;
        std::this_thread::sleep_for(m_timing.retryEvery);
    }
}

bool SingleInstance::listen() {
    const std::filesystem::path path = socketPath();
    if (!fitsSocketAddress(path))
        return fail("cannot create zorvant.socket there", ENAMETOOLONG);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail("cannot create a socket", errno);
    // The file takes the socket's mode when it is bound: this user's alone, whatever the umask.
    ::fchmod(fd, 0600);
    // Holding the lock, a socket file here is one a crashed instance left.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        ::close(fd);
        return fail("cannot remove the old zorvant.socket", error);
    }
    const sockaddr_un address = socketAddress(path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, listenBacklog) != 0) {
        const int error = errno;
        ::close(fd);
        return fail("cannot listen on zorvant.socket", error);
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0)
        m_socketInode = info.st_ino;
    m_listening = fd;
    return true;
}
