#include <map>
#include <string>

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

std::map<std::string, std::string> environment;

const char* lookup(const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
}

bool displayMissing(std::map<std::string, std::string> variables) {
    environment = std::move(variables);
    return missingDisplay(lookup).has_value();
}

} // namespace

// Without DISPLAY or WAYLAND_DISPLAY, Qt's own choice and the X11 and Wayland platforms would
// abort; a platform that needs no display is the user's to choose, and is left to Qt.
TEST(CommandLineTest, ADisplayIsMissingOnlyWhereQtWouldLookForOne) {
    EXPECT_TRUE(displayMissing({}));
    EXPECT_TRUE(displayMissing({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}));
    for (const char* platform : {"", "xcb", "wayland", "wayland-egl", "wayland;xcb", "xcb:nograb"})
        EXPECT_TRUE(displayMissing({{"QT_QPA_PLATFORM", platform}})) << platform;

    EXPECT_FALSE(displayMissing({{"DISPLAY", ":0"}}));
    EXPECT_FALSE(displayMissing({{"WAYLAND_DISPLAY", "wayland-0"}}));
    for (const char* platform : {"offscreen", "vnc:size=800x600", "eglfs", "wayland;offscreen"})
        EXPECT_FALSE(displayMissing({{"QT_QPA_PLATFORM", platform}})) << platform;
}
