#pragma once

#include <cstddef>
#include <functional>

// Runs the work on a thread of its own that nobody waits for, so that the program can end
// while the thread is still stuck in a system call (a listing of a share that has stopped
// answering). A thread that finished earlier work and is still waiting for more takes it, if
// there is one; otherwise a new thread starts. The thread takes no signals sent to the
// process: SIGTERM is always handled by a thread that can act on it. False when no thread could
// be started.
bool startDetachedThread(std::function<void()> work);

// The threads that have finished their work and wait for more.
std::size_t idleWorkerThreads();

// How work gets a thread of its own: startDetachedThread in the program, a stand-in in tests.
using StartThread = std::function<bool(std::function<void()>)>;
