#pragma once

#include <memory>

#include "platform/main_thread.h"

class QObject;

// Runs tasks in the event loop of the thread a receiver object lives in, and drops them once
// the receiver has been destroyed.
class QtMainThread : public MainThread {
public:
    explicit QtMainThread(QObject* receiver);

    void post(std::function<void()> task) override;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
