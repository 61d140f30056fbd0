#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

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
        // The running instance took the request and answered.
        reopened,
        // Another process holds the lock, but it does not take or answer the request.
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
    // ($XDG_RUNTIME_DIR, or a private folder under the temporary folder without it).
    explicit SingleInstance(std::filesystem::path runtimeFolder = {});
    SingleInstance(std::filesystem::path runtimeFolder, Timing timing);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock, or asks the instance that holds it to reopen. While that instance does
    // not listen the lock is tried again too, so a first instance that gives up while
    // starting leaves the lock to this one.
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
    enum class Delivery { answered, silent, unreachable };

    bool prepareFolder();
    LockState tryLock();
    Delivery deliver(const std::string& request);
    bool fail(std::string_view what, int error);

    std::filesystem::path m_folder;
    Timing m_timing;
    std::string m_failure;
    int m_lock = -1;
    int m_listening = -1;
    // The socket file this instance made, told apart from one a later instance may make.
    unsigned long m_socketInode = 0;
};
