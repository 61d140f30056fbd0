#include <gtest/gtest.h>

#include "ui/window_fit.h"

// A dialog is moved into the area when it pokes out, and shrunk when it is larger.
TEST(WindowFitTest, ADialogIsMovedAndShrunkIntoTheArea) {
    const QRect area(0, 28, 1280, 772);
    const QRect cases[][2] = {
        {{100, 100, 600, 400}, {100, 100, 600, 400}}, {{900, 600, 600, 400}, {680, 400, 600, 400}},
        {{0, 0, 1124, 822}, {0, 28, 1124, 772}}, // the GTK chooser on an 800-pixel screen
        {{-50, 10, 1400, 900}, {0, 28, 1280, 772}},   {{1400, 100, 300, 200}, {980, 100, 300, 200}},
    };
    for (const auto& [window, expected] : cases)
        EXPECT_EQ(fittedInto(window, area), expected) << window.x() << "," << window.y();
    // On a second screen to the left of the first.
    EXPECT_EQ(fittedInto({-100, 0, 800, 900}, {-1280, 0, 1280, 800}), QRect(-800, 0, 800, 800));
    // Moved only, a rectangle larger than the area keeps its top-left corner inside it.
    EXPECT_EQ(movedInto({900, 600, 600, 400}, area), QPoint(680, 400));
    EXPECT_EQ(movedInto({-50, 10, 1400, 900}, area), QPoint(0, 28));
    EXPECT_EQ(movedInto({200, 500, 1400, 900}, area), QPoint(0, 28));
}
