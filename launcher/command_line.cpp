#include "launcher/command_line.h"

#include <cstdlib>
#include <string_view>

namespace {

// A byte that would break the one line of a complaint, written as an escape instead.
std::string printable(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            out.append("\\x").push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0f]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

bool isDisplayPlatform(std::string_view name) {
    return name == "xcb" || name.starts_with("wayland");
}

// Whether Qt will look for an X server or a Wayland compositor: the default choice, or a
// list ("wayland;xcb") whose every entry is one of those two.
bool needsDisplay(std::string_view platforms) {
    if (platforms.empty())
        return true;
    while (!platforms.empty()) {
        const auto end = platforms.find(';');
        std::string_view entry = platforms.substr(0, end);
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty() && !isDisplayPlatform(entry))
            return false;
        if (end == std::string_view::npos)
            break;
        platforms.remove_prefix(end + 1);
    }
    return true;
}

bool isSet(const char* value) {
    return value && *value;
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    if (argc <= 1)
        return {};
    const std::string_view first = argv[1];
    if (argc == 2 && first == "--help")
        return {CommandLine::Action::help, {}};
    if (argc == 2 && first == "--version")
        return {CommandLine::Action::version, {}};
    if (argc == 2 && first == "--background")
        return {CommandLine::Action::run, {}, true};
    const bool known = first == "--help" || first == "--version" || first == "--background";
    const std::string_view offending = known ? argv[2] : first;
    return {CommandLine::Action::refuse,
            "zorvant: unknown argument '" + printable(offending) +
                "' (zorvant takes --help, --version or --background, or nothing)"};
}

std::string usageText() {
    return "Usage: zorvant [--background | --help | --version]\n"
           "\n"
           "Zorvant lives in the system tray. Click its folder icon, type a docket number and\n"
           "press Return: the matching docket folder opens in the file manager. Started, it\n"
           "shows its panel.\n"
           "\n"
           "Run while Zorvant is already running, zorvant brings its panel up and exits, so a\n"
           "desktop keyboard shortcut bound to the command zorvant is a global hotkey.\n"
           "\n"
           "Options:\n"
           "  --background  start without showing the panel (as the login start does)\n"
           "  --help        show this help and exit\n"
           "  --version     show the version and exit\n";
}

std::string versionText() {
    return std::string("zorvant ") + ZORVANT_VERSION + "\n";
}

std::optional<std::string> missingDisplay(const char* (*lookup)(const char*)) {
    if (isSet(lookup("DISPLAY")) || isSet(lookup("WAYLAND_DISPLAY")))
        return std::nullopt;
    const char* platform = lookup("QT_QPA_PLATFORM");
    if (!needsDisplay(platform ? platform : ""))
        return std::nullopt;
    return "Zorvant needs a desktop session to show its tray icon, but neither DISPLAY nor "
           "WAYLAND_DISPLAY is set.";
}
