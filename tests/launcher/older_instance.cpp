// A running Zorvant of the version out before the request had versions, as far as a launch can
// see it: it holds the lock on zorvant.lock (its PID written in it) and listens on
// zorvant.socket in the runtime folder given, answers "reopen" and "reopen <token>" with "ok",
// and hangs up unanswered on anything else, "reopen/2" included. SIGTERM ends it as the kernel
// ends any process, which lets the lock go. Plain POSIX, so that the tests can copy it
// elsewhere and replace the copy on disk as a package manager would.
//
// usage: older_instance RUNTIME_FOLDER [--without-lock]
// It says "listening" on its output once it listens, then each line it reads, in turn.
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool isVersion1Request(const std::string& line) {
    return line == "reopen" || (line.starts_with("reopen ") && line.size() > 7 &&
                                line.find(' ', 7) == std::string::npos);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string folder = argv[1];
    const bool withLock = argc < 3 || std::strcmp(argv[2], "--without-lock") != 0;
    if (withLock) {
        const int lock = ::open((folder + "/zorvant.lock").c_str(), O_RDWR | O_CREAT, 0600);
        if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0)
            return 3;
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(lock, 0) != 0 || ::pwrite(lock, pid.data(), pid.size(), 0) < 0)
            return 3;
    }
    const std::string path = folder + "/zorvant.socket";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listening < 0 || path.size() >= sizeof address.sun_path)
        return 4;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ::fchmod(listening, 0600);
    ::unlink(path.c_str());
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening, 16) != 0)
        return 4;
    say("listening");
    for (;;) {
        const int client = ::accept(listening, nullptr, nullptr);
        if (client < 0)
            continue;
        std::string line;
        char c;
        while (line.size() < 8192 && ::recv(client, &c, 1, 0) == 1 && c != '\n')
            line.push_back(c);
        say(line);
        if (isVersion1Request(line))
            ::send(client, "ok\n", 3, MSG_NOSIGNAL);
        ::close(client);
    }
}
