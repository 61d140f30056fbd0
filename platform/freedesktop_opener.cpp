#include "platform/freedesktop_opener.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QString>
#include <QStringList>

#include "platform/log.h"

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// The executable's full path, found in the parent so that the forked children only call
// functions that are safe between fork and exec.
std::string findInPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = rest.find(':');
        std::string folder(rest.substr(0, colon));
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        rest.remove_prefix(colon + 1);
    }
}

} // namespace

void FreedesktopOpener::open(const std::filesystem::path& location) {
    std::error_code error;
    if (std::filesystem::is_directory(location, error) && showInFileManager(location))
        return;
    spawnXdgOpen(location);
}

bool FreedesktopOpener::showInFileManager(const std::filesystem::path& folder) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(fileManagerService).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        fileManagerService, QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowFolders"));
    // The URI percent-encodes every byte, so names that are not UTF-8 survive the trip.
    call << QStringList{QString::fromStdString(fileURL(folder, true))} << QString();
    return bus.send(call);
}

void FreedesktopOpener::spawnXdgOpen(const std::filesystem::path& location) {
    const std::string program = findInPath("xdg-open");
    if (program.empty()) {
        diagnostic("Zorvant: cannot open " + fileURL(location) + ": xdg-open was not found");
        return;
    }
    std::string argument = location.native();
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), argument.data(), nullptr};

    // Fork twice: the middle child exits at once and is reaped here, so the opener is
    // adopted by init and this long-running process never collects zombies.
    const pid_t middle = ::fork();
    if (middle < 0) {
        diagnostic("Zorvant: cannot open " + fileURL(location) + ": " + std::strerror(errno));
        return;
    }
    if (middle == 0) {
        const pid_t opener = ::fork();
        if (opener == 0) {
            ::setsid();
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::_exit(opener < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
}
