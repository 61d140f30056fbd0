#pragma once

#include <chrono>
#include <functional>

// The time windows in how the panel answers the window system's word on its activation, which
// can come late, or twice: each is named here and timed by a clock the tests move. The panel
// asks the policy, and tells it what happened.
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
class PanelFocusPolicy {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds closingClickWindow{350};
    static constexpr std::chrono::milliseconds chooserHandOver{1000};
    static constexpr std::chrono::milliseconds leftoverWindow{2000};
    // How long a leftover focus-out waits for the keyboard to come back.
    static constexpr std::chrono::milliseconds keyboardReturn{1000};

    explicit PanelFocusPolicy(Clock clock = std::chrono::steady_clock::now);

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
};
