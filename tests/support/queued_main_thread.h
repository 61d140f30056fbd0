#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/main_thread.h"

// The main thread of a test: tasks that workers post wait in a queue until the test runs
// them, so that the test decides when answers land.
class QueuedMainThread : public MainThread {
public:
    void post(std::function<void()> task) override;

    // Waits for the next task (a bounded while) and runs it. False when none came.
    bool runNext(std::chrono::milliseconds patience = std::chrono::seconds(20));
    // How many tasks wait to be run.
    std::size_t queued() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};
