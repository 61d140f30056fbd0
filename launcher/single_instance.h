#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include <sys/types.h>

// Keeps Zorvant to one running instance per user, in plain POSIX so that a later launch,
// the path a desktop hotkey takes, never loads the GUI libraries. The first launch holds a
// lock on "zorvant.lock" in the user's runtime folder and listens on "zorvant.socket" there;
// a later launch finds the lock taken, sends a reopen request over the socket, waits for the
// running instance to answer "ok", and exits.
//
// The lock is an flock(2) lock, which the kernel drops when its holder dies: a lock file and
// a socket left by a crash are taken over by the next launch.
class SingleInstance {
public:
    enum class Outcome {
        // This process holds the lock: it is the running instance.
        primary,
        // This process holds the lock, which it took over from an instance whose program was
        // replaced on disk (an upgrade) and which it had end: it is the running instance now,
        // and shows the panel as a reopen would, since that is what the launch asked for.
        replacedInstance,
        // The running instance took the request and answered.
        reopened,
        // Another process holds the lock, but it does not take or answer the request, nor let
        // the lock go.
        notAnswering,
        // The runtime folder cannot hold the lock: see failure().
        failed,
    };

    struct Timing {
        // How long a later launch tries to reach an instance that holds the lock but does not
        // listen yet (it is still starting).
        std::chrono::milliseconds connectWithin{5000};
        // How long it waits for the answer of an instance that took the request; one still
        // building its interface answers only once that is done.
        std::chrono::milliseconds answerWithin{10000};
        std::chrono::milliseconds retryEvery{10};
    };

    // runtimeFolder: where the lock and the socket live; by default the user's runtime folder
    // ($XDG_RUNTIME_DIR, or a private folder under the temporary folder without it, named by
    // the numeric user id: a launch looks up no user name, which may ask LDAP or sssd).
    explicit SingleInstance(std::filesystem::path runtimeFolder = {});
    SingleInstance(std::filesystem::path runtimeFolder, Timing timing);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock, or asks the instance that holds it to reopen. While that instance does
    // not listen, or hangs up without an answer, the lock is tried again too, so a first
    // instance that gives up while starting, or one on its way out, leaves the lock to this one.
    // An instance whose program was replaced on disk is made to end (it ends itself when it
    // speaks version 2 of the request; one that speaks only version 1 is sent SIGTERM), and
    // this one takes its place.
    Outcome claimOrReopen(std::string_view activationToken);

    // The primary's socket, listening and non-blocking, for the running instance to serve;
    // a socket file left by a crashed instance is replaced. False, with failure() set, when it
    // cannot be created.
    bool listen();
    // The listening socket's descriptor, or -1. It stays this object's.
    int listeningSocket() const { return m_listening; }

    // What went wrong, in one line that names the runtime folder and the system's error.
    const std::string& failure() const { return m_failure; }
    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path socketPath() const { return m_folder / "zorvant.socket"; }
    std::filesystem::path lockPath() const { return m_folder / "zorvant.lock"; }

private:
    enum class LockState { taken, held, error };
    enum class Delivery {
        answered,
        // A version 2 instance whose program was replaced: it ends itself.
        replaced,
        // It read the request and closed without a word: a version 1 instance refusing a
        // version 2 request, or an instance on its way out.
        hungUp,
        // It let this launch connect, then said nothing within answerWithin.
        silent,
        unreachable,
    };
    struct Exchange {
        Delivery delivery;
        // The instance's process, as the kernel tells it; 0 when unknown.
        pid_t peer = 0;
    };

    bool prepareFolder();
    LockState tryLock();
    // The PID that the lock's holder wrote into it; 0 when it wrote none that reads as one.
    pid_t lockHolder() const;
    Exchange deliver(const std::string& request);
    bool fail(std::string_view what, int error);

    std::filesystem::path m_folder;
    Timing m_timing;
    std::string m_failure;
    int m_lock = -1;
    int m_listening = -1;
    // The socket file this instance made, told apart from one a later instance may make.
    unsigned long m_socketInode = 0;
};
