#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/command_runner.h"

// gsettings over a store in memory, answering as the real tool does: GVariant text out, "No
// such schema" for a schema GNOME lacks, the relocatable custom shortcut's keys empty until set.
// A RunCommand through std::ref, so that the test reads the store the code under test wrote.
struct FakeGsettings {
    std::set<std::string> schemas{"org.gnome.settings-daemon.plugins.media-keys",
                                  "org.gnome.desktop.wm.keybindings",
                                  "org.gnome.shell.keybindings"};
    std::map<std::string, std::map<std::string, std::string>> values{
        {"org.gnome.settings-daemon.plugins.media-keys", {{"custom-keybindings", "@as []"}}}};
    // Every set, with its arguments.
    std::vector<std::vector<std::string>> writes;
    bool installed = true;
    // As without dconf: every set is taken, warned about, and forgotten.
    bool forgets = false;

    CommandResult operator()(const std::string& program, const std::vector<std::string>& args);

    // A custom shortcut the user made in GNOME's settings, at the end of its list.
    void addUserShortcut(const std::string& path, const std::string& command,
                         const std::string& binding);
    // The keys of the custom shortcut at path.
    std::map<std::string, std::string> custom(const std::string& path);
    // The custom shortcuts' paths, as GNOME's list names them.
    std::vector<std::string> list();
};
