#include <gtest/gtest.h>

#include "app/activation_policy.h"

using namespace std::chrono_literals;

// Each of the panel's rules, on a clock the test moves: what counts as the click that closed
// the panel, as the chooser's hand-over, and as a focus-out left over from a quick hide and
// show.
TEST(ActivationPolicyTest, EachPanelWindowHoldsForItsTimeAndNoLonger) {
    std::chrono::steady_clock::time_point now;
    ActivationPolicy policy([&] { return now; });

    // The click that closed the panel.
    EXPECT_FALSE(policy.isTheClosingClick());
    policy.closedOnDeactivation();
    now += ActivationPolicy::closingClickWindow;
    EXPECT_TRUE(policy.isTheClosingClick());
    now += 1ms;
    EXPECT_FALSE(policy.isTheClosingClick());

    // The chooser: up, the panel's activation may go anywhere; closed, until the panel has the
    // activation back, or for the hand-over's time at most.
    EXPECT_FALSE(policy.isChoosersHandOver());
    policy.chooserShown();
    policy.activated(); // the panel itself, while the chooser is still up
    now += 1h;
    EXPECT_TRUE(policy.isChoosersHandOver());
    policy.chooserClosed();
    now += ActivationPolicy::chooserHandOver;
    EXPECT_TRUE(policy.isChoosersHandOver());
    now += 1ms;
    EXPECT_FALSE(policy.isChoosersHandOver());
    policy.chooserShown();
    policy.chooserClosed();
    policy.activated();
    EXPECT_FALSE(policy.isChoosersHandOver());

    // The focus-out of a quick hide and show: once, and only within its window.
    EXPECT_FALSE(policy.takeLeftoverDeactivation());
    policy.reshownQuickly();
    now += ActivationPolicy::leftoverWindow;
    EXPECT_TRUE(policy.takeLeftoverDeactivation());
    EXPECT_FALSE(policy.takeLeftoverDeactivation());
    policy.reshownQuickly();
    now += ActivationPolicy::leftoverWindow + 1ms;
    EXPECT_FALSE(policy.takeLeftoverDeactivation());
}

// The icon's double click: the window runs from the first Activate's handling for the
// double-click time, both ends included; it is closed by its second half or by the user, and
// opened anew by each first half. It shares nothing with the panel's rules, whose state a
// gesture must neither set nor end.
TEST(ActivationPolicyTest, ADoubleClickRunsFromTheFirstHalfsHandlingUntilItEnds) {
    std::chrono::steady_clock::time_point now;
    ActivationPolicy policy([&] { return now; });
    EXPECT_FALSE(policy.isSecondHalfOfDoubleClick());

    now += 5s; // however long the first Activate waited, or took
    policy.closedOnDeactivation();
    policy.firstClickHandled(400ms);
    EXPECT_TRUE(policy.isTheClosingClick());
    now += 400ms;
    EXPECT_TRUE(policy.isSecondHalfOfDoubleClick());
    now += 1ms;
    EXPECT_FALSE(policy.isSecondHalfOfDoubleClick());
    EXPECT_TRUE(policy.isDoubleClickBegun());

    policy.firstClickHandled(400ms);
    EXPECT_TRUE(policy.isSecondHalfOfDoubleClick());
    policy.reshownQuickly();
    policy.endDoubleClick();
    EXPECT_FALSE(policy.isSecondHalfOfDoubleClick());
    EXPECT_FALSE(policy.isDoubleClickBegun());
    EXPECT_TRUE(policy.takeLeftoverDeactivation());
}
