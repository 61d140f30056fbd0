#include <map>
#include <string>

#include <gtest/gtest.h>

#include "launcher/command_line.h"

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

// The login start passes --background; anything else that runs the program shows the panel.
TEST(CommandLineTest, OnlyBackgroundAloneStartsWithoutThePanel) {
    const char* bare[] = {"zorvant"};
    const CommandLine plain = parseCommandLine(1, bare);
    EXPECT_EQ(plain.action, CommandLine::Action::run);
    EXPECT_FALSE(plain.background);

    const char* background[] = {"zorvant", "--background"};
    const CommandLine quiet = parseCommandLine(2, background);
    EXPECT_EQ(quiet.action, CommandLine::Action::run);
    EXPECT_TRUE(quiet.background);

    const char* twice[] = {"zorvant", "--background", "--background"};
    EXPECT_EQ(parseCommandLine(3, twice).action, CommandLine::Action::refuse);
    const char* spelt[] = {"zorvant", "--Background"};
    EXPECT_EQ(parseCommandLine(2, spelt).action, CommandLine::Action::refuse);
}
