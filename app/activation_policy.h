#pragma once

#include <chrono>
#include <functional>

// The time windows in how Zorvant reads clicks on its icon and the window system's word on the
// panel's activation, which can come late, or twice. Each is named here and timed by one clock
// the tests move. The icon and the panel ask the policy, and tell it what happened.
//
// These are the rules the desktop gives no event for: a StatusNotifierItem click arrives over
// D-Bus without a time of its own, and an XWayland focus-out carries no mark of the showing it
// belongs to. What the X server does say (a key's or a click's server time, who has the
// keyboard now, where the icon went) is asked of it directly, and not guessed from a clock.
//
// - The click that closed the panel: a click on the tray icon closes the panel by taking the
//   activation away first, and then arrives as a click of its own. Arriving this soon after
//   the panel closed itself, it is that click, and must not open the panel again.
// - The chooser's hand-over: while the folder chooser is up, and after it closes until the panel
//   has the activation back (or for a while at most), losing the activation is no reason to
//   close: the chooser is the panel's own.
// - A leftover focus-out: on XWayland the focus-out of a quick hide and show can arrive after
//   the show, before the compositor hands the keyboard back. Such a deactivation closes the
//   panel only if the keyboard does not come back within a while.
// - A double click on the icon: most trays send each click of a double click as an Activate
//   (GNOME's extension only for its first gesture on an icon), and the second would close what
//   the first opened. The two are one gesture, so one click. Its window is timed from when the
//   first Activate was handled, not from when it came: showing the panel on a busy machine can
//   outlast a double click while the second waits in the queue. Anything the user does in
//   between (a key, a click) ends the gesture, whatever the time.
class ActivationPolicy {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds closingClickWindow{350};
    static constexpr std::chrono::milliseconds chooserHandOver{1000};
    static constexpr std::chrono::milliseconds leftoverWindow{2000};
    // How long a leftover focus-out waits for the keyboard to come back.
    static constexpr std::chrono::milliseconds keyboardReturn{1000};
    // How long a launch's panel waits for a new XEmbed icon to be put in its place by a tray
    // that does not say so, before it shows wherever the icon is.
    static constexpr std::chrono::milliseconds iconPlacePatience{1000};

    explicit ActivationPolicy(Clock clock = std::chrono::steady_clock::now);

    // The panel closed itself because it lost the activation.
    void closedOnDeactivation();
    // Whether a click on the icon now is the one that closed the panel.
    bool isTheClosingClick() const;

    void chooserShown();
    void chooserClosed();
    // The panel has the activation.
    void activated();
    // Whether losing the activation now is the chooser's doing.
    bool isChoosersHandOver() const;

    // The panel came back with the keyboard from a quick hide and show.
    void reshownQuickly();
    // Whether a deactivation now is the focus-out left over from that hide. Once: a second
    // deactivation is a real one.
    bool takeLeftoverDeactivation();

    // The first Activate of a gesture on the icon has been handled; the second may come within
    // `interval` (the desktop's double-click time).
    void firstClickHandled(std::chrono::milliseconds interval);
    // Whether an Activate now would be the second half of that gesture.
    bool isSecondHalfOfDoubleClick() const;
    // Whether a gesture was begun and not ended, though its time may be up.
    bool isDoubleClickBegun() const { return m_clickBegun; }
    // The gesture is over: completed by its second half, or broken off.
    void endDoubleClick() { m_clickBegun = false; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    bool within(TimePoint since, std::chrono::milliseconds window) const;

    Clock m_clock;
    bool m_closedOnDeactivation = false;
    TimePoint m_closedAt;
    bool m_chooserUp = false;
    bool m_handingOver = false;
    TimePoint m_chooserClosedAt;
    bool m_reshown = false;
    TimePoint m_reshownAt;
    bool m_clickBegun = false;
    TimePoint m_secondClickDeadline;
};
