#pragma once

#include <optional>
#include <string>

// What the command line asks of this launch. Zorvant has nothing to configure: a desktop
// shortcut runs it bare, and the login start adds --background.
struct CommandLine {
    enum class Action { run, help, version, refuse };
    Action action = Action::run;
    // For refuse: one line saying what was wrong, without its line feed.
    std::string complaint;
    // For run: start without showing the panel, as at login, where nobody asked for it.
    bool background = false;
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
