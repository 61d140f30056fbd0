#pragma once

#include <optional>
#include <string>

// What the command line asks of this launch. Zorvant takes no options but these two: it has
// nothing to configure, and a desktop shortcut runs it bare.
struct CommandLine {
    enum class Action { run, help, version, refuse };
    Action action = Action::run;
    // For refuse: one line saying what was wrong, without its line feed.
    std::string complaint;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// What --help prints.
std::string usageText();
// What --version prints: "zorvant X.Y.Z" and a line feed.
std::string versionText();

// Why this environment offers no display to put the tray icon and the panel on, or none.
// A platform plugin chosen through QT_QPA_PLATFORM that needs no display (offscreen, vnc,
// eglfs...) is left to Qt. lookup stands for the process's environment (std::getenv).
std::optional<std::string> missingDisplay(const char* (*lookup)(const char*));
