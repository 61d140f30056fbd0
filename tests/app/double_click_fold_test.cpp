#include <gtest/gtest.h>

#include "app/double_click_fold.h"

using namespace std::chrono_literals;

// The window runs from the first Activate's handling for the double-click time, both ends
// included; it is closed by its second half or by the user, and opened anew by each first half.
TEST(DoubleClickFoldTest, TheWindowRunsFromTheFirstHalfsHandlingUntilItEnds) {
    std::chrono::steady_clock::time_point now;
    DoubleClickFold fold([&] { return now; });
    EXPECT_FALSE(fold.isSecondHalf());

    now += 5s; // however long the first Activate waited, or took
    fold.firstHandled(400ms);
    now += 400ms;
    EXPECT_TRUE(fold.isSecondHalf());
    now += 1ms;
    EXPECT_FALSE(fold.isSecondHalf());
    EXPECT_TRUE(fold.isBegun());

    fold.firstHandled(400ms);
    EXPECT_TRUE(fold.isSecondHalf());
    fold.end();
    EXPECT_FALSE(fold.isSecondHalf());
    EXPECT_FALSE(fold.isBegun());
}
