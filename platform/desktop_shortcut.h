#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/command_runner.h"

// A custom keyboard shortcut that runs the program's command, kept in the desktop's own
// shortcut settings: GNOME's custom keybindings (through gsettings) or XFCE's application
// shortcuts (through xfconf-query). The desktop's settings then list it, and the user changes
// or removes it there; the program stores nothing of its own.
//
// A shortcut the user made is never changed: an existing shortcut of the program's command is
// found and kept as it is, and a new one gets a key only if nothing else on the desktop uses
// that key.
struct DesktopShortcut {
    enum class Outcome {
        // A new shortcut, on `key`.
        added,
        // A new shortcut without a key: every default key was taken. The user picks one.
        addedWithoutKey,
        // The program's shortcut was there already, on `key` (empty when it has none).
        found,
        // Nothing was changed; `failure` says why, in one line.
        failed,
    };

    Outcome outcome = Outcome::failed;
    // As the desktop writes it: "<Control><Alt>d" (GNOME), "<Primary><Alt>d" (XFCE).
    std::string key;
    std::string failure;

    bool operator==(const DesktopShortcut&) const = default;

    // The keys offered, in order, where nothing else uses them; in GNOME's notation.
    static const std::vector<std::string>& defaultKeys();

    // Blocks on the desktop's tools: call from a worker thread.
    static DesktopShortcut setUpOnGnome(const RunCommand& run, const std::string& name,
                                        const std::string& command);
    static DesktopShortcut setUpOnXfce(const RunCommand& run, const std::string& command);
};

// A key as the user reads it: "<Control><Alt>d" → "Ctrl+Alt+D".
std::string readableKey(std::string_view key);

// One spelling for one key, to compare keys written by different tools: modifiers in a fixed
// order with their aliases merged (<Primary>, <Ctrl> and <Control>; <Mod1> and <Alt>; <Mod4>
// and <Super>), the key's name in lower case. Empty for no key ("", "disabled").
std::string normalizedKey(std::string_view key);

// Every string literal in a GVariant's text form, as gsettings prints it: ['a', "b"] → a, b.
std::vector<std::string> stringsInGVariantText(std::string_view text);

// A string in GVariant's text form, for gsettings set: it → 'it', with ' and \ escaped.
std::string gvariantTextOfString(std::string_view text);
