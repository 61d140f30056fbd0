#include <gtest/gtest.h>

#include "app/windowing_platform.h"

// XWayland is chosen only for a Wayland session with an X server to reach, and never over a
// platform the user set.
TEST(WindowingPlatformTest, PrefersXWaylandInWaylandSessionsWithAnXServer) {
    EXPECT_EQ(preferredWindowingPlatform({"", "wayland-0", "wayland", ":0"}), "xcb;wayland");
    // A session is Wayland by either sign: a socket named, or the session type.
    EXPECT_EQ(preferredWindowingPlatform({"", "wayland-0", "", ":1"}), "xcb;wayland");
    EXPECT_EQ(preferredWindowingPlatform({"", "", "wayland", ":1"}), "xcb;wayland");
}

TEST(WindowingPlatformTest, LeavesQtsChoiceAloneOtherwise) {
    // The user's own choice wins, whatever it is.
    EXPECT_EQ(preferredWindowingPlatform({"wayland", "wayland-0", "wayland", ":0"}), "");
    EXPECT_EQ(preferredWindowingPlatform({"xcb", "wayland-0", "wayland", ":0"}), "");
    // No X server in the Wayland session: native Wayland.
    EXPECT_EQ(preferredWindowingPlatform({"", "wayland-0", "wayland", ""}), "");
    // An X11 session, or none at all.
    EXPECT_EQ(preferredWindowingPlatform({"", "", "x11", ":0"}), "");
    EXPECT_EQ(preferredWindowingPlatform({"", "", "", ""}), "");
}
