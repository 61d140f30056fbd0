#include <csignal>
#include <future>
#include <set>
#include <thread>

#include <pthread.h>

#include <gtest/gtest.h>

#include "platform/worker_thread.h"

namespace {

// Runs the work on a worker and waits (a bounded while) for what it returns.
template <class Work> auto onWorker(Work work) {
    auto promise = std::make_shared<std::promise<decltype(work())>>();
    auto result = promise->get_future();
    EXPECT_TRUE(startDetachedThread([promise, work] { promise->set_value(work()); }));
    EXPECT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return result.get();
}

bool waitForIdleThreads(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (idleWorkerThreads() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

// Workers take none of the signals the main thread handles (the faults they raise themselves
// excepted); a thread that has finished its work takes the next instead of a new one starting;
// and a thread that is stuck holds up no other work.
TEST(WorkerThread, BlocksTheMainThreadsSignalsIsReusedAndAStuckOneHoldsUpNothing) {
    const auto [blocked, id] = onWorker([] {
        sigset_t current;
        ::pthread_sigmask(SIG_SETMASK, nullptr, &current);
        return std::make_pair(sigismember(&current, SIGTERM) + sigismember(&current, SIGINT) +
                                  sigismember(&current, SIGPIPE) - sigismember(&current, SIGSEGV),
                              std::this_thread::get_id());
    });
    EXPECT_EQ(blocked, 3);

    // Once a thread waits for more, the work goes to one that already ran some: at most the
    // two started so far serve all that follows.
    const auto threadId = [] { return std::this_thread::get_id(); };
    std::set<std::thread::id> known{id, onWorker(threadId)};
    EXPECT_FALSE(known.count(std::this_thread::get_id()));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(waitForIdleThreads(1));
        EXPECT_TRUE(known.count(onWorker(threadId))) << i;
    }

    std::promise<void> release;
    auto released = release.get_future().share();
    ASSERT_TRUE(startDetachedThread([released] { released.wait(); }));
    EXPECT_EQ(onWorker([] { return 7; }), 7);
    release.set_value();
}
