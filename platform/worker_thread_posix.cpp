#include <csignal>
#include <system_error>
#include <thread>

#include <pthread.h>

#include "platform/worker_thread.h"

bool startDetachedThread(std::function<void()> work) {
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
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}
