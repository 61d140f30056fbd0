#include "reopen/program_files.h"

#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::string_view deletedMark = " (deleted)";

std::string executable(const std::string& proc) {
    char target[4096];
    const ssize_t length = ::readlink((proc + "/exe").c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// Read in blocks, not line by line: a Qt program maps a few hundred files, and a hotkey waits.
bool moduleReplaced(const std::string& proc, std::string_view moduleFileName) {
    const int fd = ::open((proc + "/maps").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::string wanted = "/" + std::string(moduleFileName) + std::string(deletedMark) + "\n";
    std::string text;
    char buffer[16384];
    bool found = false;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.find(wanted) != std::string::npos) {
            found = true;
            break;
        }
        // Only the tail may hold the start of a match that the next block completes.
        if (text.size() > wanted.size())
            text.erase(0, text.size() - wanted.size());
    }
    ::close(fd);
    return found;
}

} // namespace

bool ProgramFiles::replaced(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    return executable(proc).ends_with(deletedMark) || moduleReplaced(proc, moduleFileName);
}

bool ProgramFiles::runsZorvant(pid_t pid) {
    const std::string target = executable("/proc/" + std::to_string(pid));
    std::string_view path = target;
    if (path.ends_with(deletedMark))
        path.remove_suffix(deletedMark.size());
    return path.ends_with("/" + std::string(executableFileName));
}
