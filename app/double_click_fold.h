#pragma once

#include <chrono>
#include <functional>

// Tells the second Activate of a double click on the tray icon from a click of its own. Most
// trays send each click of a double click as an Activate (GNOME's extension only for its first
// gesture on an icon), and the second would close what the first opened: the two are one
// gesture, so one click.
//
// The window is timed from when the first Activate was handled, not from when it came: showing
// the panel on a busy machine can outlast a double click while the second waits in the queue.
// Anything the user does in between (a key, a click) ends the gesture, whatever the time.
class DoubleClickFold {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit DoubleClickFold(Clock clock = std::chrono::steady_clock::now);

    // The first Activate of a gesture has been handled; the second may come within `interval`.
    void firstHandled(std::chrono::milliseconds interval);
    // Whether an Activate now would be the second half of the gesture.
    bool isSecondHalf() const;
    // Whether a gesture was begun and not ended, though its time may be up.
    bool isBegun() const { return m_begun; }
    // The gesture is over: completed by its second half, or broken off.
    void end() { m_begun = false; }

private:
    Clock m_clock;
    bool m_begun = false;
    std::chrono::steady_clock::time_point m_deadline;
};
