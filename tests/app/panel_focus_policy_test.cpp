#include <gtest/gtest.h>

#include "app/panel_focus_policy.h"

using namespace std::chrono_literals;

// Each rule of the panel's focus policy, on a clock the test moves: what counts as the click
// that closed the panel, as the chooser's hand-over, and as a focus-out left over from a quick
// hide and show.
TEST(PanelFocusPolicyTest, EachWindowHoldsForItsTimeAndNoLonger) {
    std::chrono::steady_clock::time_point now;
    PanelFocusPolicy policy([&] { return now; });

    // The click that closed the panel.
    EXPECT_FALSE(policy.isTheClosingClick());
    policy.closedOnDeactivation();
    now += PanelFocusPolicy::closingClickWindow;
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
    now += PanelFocusPolicy::chooserHandOver;
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
    now += PanelFocusPolicy::leftoverWindow;
    EXPECT_TRUE(policy.takeLeftoverDeactivation());
    EXPECT_FALSE(policy.takeLeftoverDeactivation());
    policy.reshownQuickly();
    now += PanelFocusPolicy::leftoverWindow + 1ms;
    EXPECT_FALSE(policy.takeLeftoverDeactivation());
}
