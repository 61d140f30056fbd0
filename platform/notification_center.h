#pragma once

#include <map>
#include <string>

#include "platform/signal.h"

// The process's in-process notification centre: named notifications without payload,
// delivered synchronously on the posting thread (the main thread).
class NotificationCenter {
public:
    static NotificationCenter& defaultCenter();

    [[nodiscard]] Connection addObserver(const std::string& name, std::function<void()> observer);
    void post(const std::string& name);

private:
    std::map<std::string, Signal<>> m_signals;
};

// The notification the shell posts after it has shown the panel and activated the program;
// the content view puts keyboard focus into the number field on it.
const std::string& focusRequestNotification();
