#include "platform/freedesktop_opener.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>

#include "platform/log.h"
#include "platform/worker_thread.h"

extern char** environ;

namespace {

// The answers that mean no file manager serves the call, as opposed to one that took it.
bool meansNoFileManager(const QString& error) {
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
           error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           error.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

// Collects a spawned child once it has ended, through a process file descriptor that the
// event loop watches.
class ChildWatch : public QObject {
public:
    ChildWatch(pid_t child, int pidfd, QObject* parent)
        : QObject(parent), m_child(child), m_pidfd(pidfd), m_ended(pidfd, QSocketNotifier::Read) {
        connect(&m_ended, &QSocketNotifier::activated, this, [this] {
            m_ended.setEnabled(false);
            ::waitpid(m_child, nullptr, WNOHANG);
            deleteLater();
        });
    }
    ~ChildWatch() override {
        m_ended.setEnabled(false);
        ::close(m_pidfd);
    }

private:
    const pid_t m_child;
    const int m_pidfd;
    QSocketNotifier m_ended;
};

void reapWhenDone(pid_t child, QObject* context) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd >= 0) {
        new ChildWatch(child, pidfd, context);
        return;
    }
    // A kernel without process file descriptors: a thread of its own waits for the child. Like
    // every thread of the program's, it takes none of the signals the main thread handles.
    startDetachedThread([child] {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    });
}

// The environment for the opener: this process's own, with the activation token, if any,
// for the application that xdg-open starts. An empty token is none.
std::vector<std::string> openerEnvironment(const std::string& startupId) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "XDG_ACTIVATION_TOKEN=", 21) == 0 &&
            (!startupId.empty() || (*variable)[21] == '\0'))
            continue;
        variables.emplace_back(*variable);
    }
    if (!startupId.empty())
        variables.push_back("XDG_ACTIVATION_TOKEN=" + startupId);
    return variables;
}

void spawnXdgOpen(const std::filesystem::path& location, bool isFolder,
                  const std::string& startupId, QObject* context) {
    std::string program = "xdg-open";
    std::string argument = location.native();
    char* argv[] = {program.data(), argument.data(), nullptr};
    std::vector<std::string> variables = openerEnvironment(startupId);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    // Detached: a session of its own, nothing to read from this process's input, and the
    // signal handling a fresh program expects.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    const int error = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        diagnostic("Zorvant: cannot open " + fileURL(location, isFolder) + ": " +
                   (error == ENOENT
                        ? std::string("xdg-open was not found")
                        : "cannot start xdg-open: " + std::string(std::strerror(error))));
        return;
    }
    reapWhenDone(child, context);
}

// Asks the file manager to show the folder; false when there is no session bus to ask on.
bool showInFileManager(const std::filesystem::path& folder, const std::string& startupId,
                       QObject* context) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowFolders"));
    // The URI percent-encodes every byte, so names that are not UTF-8 survive the trip.
    call << QStringList{QString::fromStdString(fileURL(folder, true))}
         << QString::fromStdString(startupId);
    auto* reply = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(reply, &QDBusPendingCallWatcher::finished, context,
                     [reply, folder, startupId, context] {
                         if (reply->isError() && meansNoFileManager(reply->error().name()))
                             spawnXdgOpen(folder, true, startupId, context);
                         reply->deleteLater();
                     });
    return true;
}

} // namespace

FreedesktopOpener::FreedesktopOpener(std::function<std::string()> startupId)
    : m_startupId(std::move(startupId)), m_pending(std::make_unique<QObject>()) {}

FreedesktopOpener::~FreedesktopOpener() = default;

bool FreedesktopOpener::isAskingTheFileManager() const {
    return !m_pending->findChildren<QDBusPendingCallWatcher*>().isEmpty();
}

void FreedesktopOpener::open(const std::filesystem::path& location, bool isFolder) {
    const std::string startupId = m_startupId ? m_startupId() : std::string();
    if (isFolder && showInFileManager(location, startupId, m_pending.get()))
        return;
    spawnXdgOpen(location, isFolder, startupId, m_pending.get());
}
