#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "platform/main_thread.h"
#include "platform/worker_thread.h"

// Runs `work` on a thread of its own and hands what it returns to `then` from the main thread's
// queue. For work that asks the file system, which may not answer for minutes: `work` must hold
// nothing that dies with the interface, and `then` must find out for itself whether what it
// would act on is still there. Without a way to start threads, or without a main thread (tests
// that want every step at once), that part runs at once on the calling thread. False when no
// thread could be had; `then` is then never called.
template <class Result>
bool runInBackground(const StartThread& start, const std::shared_ptr<MainThread>& mainThread,
                     std::function<Result()> work, std::function<void(Result)> then) {
    auto task = [mainThread, work = std::move(work), then = std::move(then)]() mutable {
        Result result = work();
        if (!mainThread) {
            then(std::move(result));
            return;
        }
        mainThread->post([then = std::move(then), result = std::move(result)]() mutable {
            then(std::move(result));
        });
    };
    if (!start) {
        task();
        return true;
    }
    return start(std::move(task));
}
