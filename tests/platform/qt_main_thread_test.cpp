#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include "platform/qt_main_thread.h"

// Tasks run in the receiver's event loop, and never once the receiver is gone: not those still
// queued when it went, nor those a worker posts while and after it goes.
TEST(QtMainThreadTest, TasksRunInTheEventLoopUntilTheReceiverGoes) {
    auto receiver = std::make_unique<QObject>();
    QtMainThread mainThread(receiver.get());
    int ran = 0;
    mainThread.post([&] { ++ran; });
    EXPECT_EQ(ran, 0); // never inside the call
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 1);

    std::atomic<bool> stop = false;
    std::atomic<int> posted = 0;
    std::thread worker([&] {
        while (!stop) {
            mainThread.post([&] { ++ran; });
            ++posted;
        }
    });
    while (posted < 1000)
        std::this_thread::yield();
    receiver.reset();
    const int afterwards = posted;
    while (posted < afterwards + 1000)
        std::this_thread::yield();
    stop = true;
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 1);
}
