#pragma once

#include <functional>

// The way back to the main thread, where the model, the interface and the opener live. Worker
// threads hand their results over through it.
class MainThread {
public:
    virtual ~MainThread() = default;

    // Queues the task to run on the main thread after those queued before it. May be called
    // from any thread. A task that can no longer run, because what would run it is gone, is
    // dropped on the calling thread: a task must hold nothing that has to be released on the
    // main thread.
    virtual void post(std::function<void()> task) = 0;
};
