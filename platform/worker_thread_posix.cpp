#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

#include "platform/worker_thread.h"

namespace {

// How long a thread that has finished its work waits for more before it ends.
constexpr std::chrono::seconds idleLifetime{20};

// Threads that have finished their work and wait a while for more: handing work to one of them
// is a wake-up, where starting a thread is a clone and, at its end, a stack given back. A lookup
// on Return starts two listings, so this is on the way from the key to the folder opening.
//
// Made once and never destroyed: threads may still wait on it, or be stuck in a call, while
// the program ends.
struct IdleThreads {
    std::mutex mutex;
    // Replaced, not reset, in a child made by fork(): the parent's waiters live on in it.
    std::condition_variable* posted = new std::condition_variable;
    std::deque<std::function<void()>> work;
    std::size_t waiting = 0;
};

IdleThreads& idleThreads();

// A child made by fork() has none of the parent's threads, and must not hand work to them.
void forgetThreadsInChild() {
    IdleThreads& idle = idleThreads();
    idle.waiting = 0;
    idle.work.clear();
    idle.posted = new std::condition_variable;
    idle.mutex.unlock();
}

IdleThreads& idleThreads() {
    static IdleThreads* const threads = [] {
        auto* made = new IdleThreads;
        ::pthread_atfork([] { idleThreads().mutex.lock(); }, [] { idleThreads().mutex.unlock(); },
                         forgetThreadsInChild);
        return made;
    }();
    return *threads;
}

void serve(std::function<void()> first) {
    first();
    first = nullptr;
    IdleThreads& idle = idleThreads();
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock lock(idle.mutex);
            ++idle.waiting;
            const bool given =
                idle.posted->wait_for(lock, idleLifetime, [&] { return !idle.work.empty(); });
            --idle.waiting;
            if (!given)
                return;
            next = std::move(idle.work.front());
            idle.work.pop_front();
        }
        next();
    }
}

} // namespace

std::size_t idleWorkerThreads() {
    IdleThreads& idle = idleThreads();
    const std::lock_guard lock(idle.mutex);
    return idle.waiting - std::min(idle.waiting, idle.work.size());
}

bool startDetachedThread(std::function<void()> work) {
    {
        IdleThreads& idle = idleThreads();
        std::unique_lock lock(idle.mutex);
        if (idle.waiting > idle.work.size()) {
            idle.work.push_back(std::move(work));
            std::condition_variable* const posted = idle.posted;
            lock.unlock();
            // Woken once the lock is let go, so that the thread does not wake only to wait for
            // it: a lookup wakes two at once.
            posted->notify_one();
            return true;
        }
    }
    // A new thread inherits the signal mask of the thread that starts it. The faults a thread
    // raises itself stay unblocked: blocked, they would kill the process without a word from
    // the handlers that report them.
    sigset_t blocked;
    sigset_t previous;
    sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
        sigdelset(&blocked, fault);
    ::pthread_sigmask(SIG_SETMASK, &blocked, &previous);
    bool started = true;
    try {
        std::thread(serve, std::move(work)).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}
