#pragma once

#include <functional>

// Runs the work on a thread of its own that nobody waits for, so that the program can end
// while the thread is still stuck in a system call (a listing of a share that has stopped
// answering). The thread takes no signals sent to the process: SIGTERM is always handled by a
// thread that can act on it. False when no thread could be started.
bool startDetachedThread(std::function<void()> work);

// How work gets a thread of its own: startDetachedThread in the program, a stand-in in tests.
using StartThread = std::function<bool(std::function<void()>)>;
