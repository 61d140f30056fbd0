#include "platform/desktop_shortcut.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

namespace {

const std::string gnomeKeys = "org.gnome.settings-daemon.plugins.media-keys";
const std::string gnomeCustomKey = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const std::string gnomeCustomFolder =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom";
// Every schema where GNOME keeps keys of its own: the window manager's, the shell's, mutter's
// and the media keys.
const std::array<const char*, 5> gnomeBindingSchemas{
    "org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys"};

const std::string xfceChannel = "xfce4-keyboard-shortcuts";
const std::string xfceDefaults = "/commands/default/";
const std::string xfceCustom = "/commands/custom/";
const std::string xfceOverride = "/commands/custom/override";

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string firstLine(const std::string& text) {
    const auto start = text.find_first_not_of(" \t\n");
    if (start == std::string::npos)
        return {};
    const auto end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The modifiers' one name and their order in a normalized key.
struct Modifier {
    const char* name;
    // Unused places are empty.
    std::array<std::string_view, 3> aliases;
};
constexpr std::array<Modifier, 6> modifiers{{
    {"shift", {"shift"}},
    {"control", {"control", "primary", "ctrl"}},
    {"alt", {"alt", "mod1"}},
    {"super", {"super", "mod4"}},
    {"meta", {"meta"}},
    {"hyper", {"hyper"}},
}};

struct ParsedKey {
    std::vector<std::string> modifiers;
    std::string key;
};

ParsedKey parse(std::string_view text) {
    ParsedKey parsed;
    while (!text.empty() && text.front() == '<') {
        const auto close = text.find('>');
        if (close == std::string_view::npos)
            break;
        parsed.modifiers.push_back(lower(text.substr(1, close - 1)));
        text.remove_prefix(close + 1);
    }
    parsed.key = std::string(text);
    return parsed;
}

// Whether a command line runs the same program as `command`: their first words name the
// same file, wherever it is.
bool runsSameProgram(std::string_view commandLine, std::string_view command) {
    auto program = [](std::string_view line) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            return std::string_view{};
        line.remove_prefix(start);
        line = line.substr(0, line.find_first_of(" \t"));
        const auto slash = line.rfind('/');
        return slash == std::string_view::npos ? line : line.substr(slash + 1);
    };
    const auto ours = program(command);
    return !ours.empty() && program(commandLine) == ours;
}

std::string gnomeFailure(const CommandResult& result) {
    if (!result.installed)
        return "GNOME's settings tool (gsettings) is not installed.";
    if (!result.ran)
        return "GNOME's settings did not answer.";
    const std::string why = firstLine(result.err);
    return "GNOME's shortcut settings could not be changed" + (why.empty() ? "." : ": " + why);
}

std::string xfceFailure(const CommandResult& result) {
    if (!result.installed)
        return "XFCE's settings tool (xfconf-query) is not installed.";
    if (!result.ran)
        return "XFCE's settings did not answer.";
    const std::string why = firstLine(result.err);
    return "XFCE's shortcut settings could not be changed" + (why.empty() ? "." : ": " + why);
}

DesktopShortcut failed(std::string why) {
    return {DesktopShortcut::Outcome::failed, {}, std::move(why)};
}

// The first default key nothing uses, in normalized form; empty when all are taken.
std::string freeDefaultKey(const std::set<std::string>& used) {
    for (const std::string& key : DesktopShortcut::defaultKeys())
        if (!used.contains(normalizedKey(key)))
            return key;
    return {};
}

// gsettings falls back to a store in memory when dconf is missing: what it is told then is
// gone when it ends.
bool gsettingsForgets(const CommandResult& result) {
    return result.err.find("'memory' GSettings backend") != std::string::npos;
}

} // namespace

const std::vector<std::string>& DesktopShortcut::defaultKeys() {
    // D for dockets, with the modifiers desktops leave to applications before those they
    // keep for themselves.
    static const std::vector<std::string> keys{"<Control><Alt>d", "<Control><Super>d",
                                               "<Shift><Super>d", "<Control><Alt>k",
                                               "<Shift><Control><Alt>d"};
    return keys;
}

std::string normalizedKey(std::string_view text) {
    ParsedKey parsed = parse(text);
    if (parsed.key.empty() || lower(parsed.key) == "disabled")
        return {};
    std::vector<std::string> known;
    std::vector<std::string> others;
    for (const std::string& name : parsed.modifiers) {
        const auto modifier = std::find_if(modifiers.begin(), modifiers.end(), [&](auto& m) {
            return std::find(m.aliases.begin(), m.aliases.end(), name) != m.aliases.end() &&
                   !name.empty();
        });
        if (modifier != modifiers.end())
            known.push_back(modifier->name);
        else
            others.push_back(name);
    }
    std::string result;
    for (const Modifier& modifier : modifiers)
        if (std::find(known.begin(), known.end(), modifier.name) != known.end())
            result += "<" + std::string(modifier.name) + ">";
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    for (const std::string& name : others)
        result += "<" + name + ">";
    return result + lower(parsed.key);
}

std::string readableKey(std::string_view text) {
    const std::string normalized = normalizedKey(text);
    if (normalized.empty())
        return {};
    const ParsedKey parsed = parse(normalized);
    std::string result;
    for (const std::string& name : parsed.modifiers) {
        std::string shown = name == "control" ? "Ctrl" : name;
        shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
        result += shown + "+";
    }
    // The key as the desktop wrote it, a letter in capitals as keyboards print it.
    std::string key = parse(text).key;
    if (key.size() == 1)
        key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
    return result + key;
}

std::vector<std::string> stringsInGVariantText(std::string_view text) {
    std::vector<std::string> strings;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char quote = text[i];
        if (quote != '\'' && quote != '"')
            continue;
        std::string value;
        for (++i; i < text.size() && text[i] != quote; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                const char escaped = text[++i];
                value += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
            } else {
                value += text[i];
            }
        }
        strings.push_back(std::move(value));
    }
    return strings;
}

std::string gvariantTextOfString(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

DesktopShortcut DesktopShortcut::setUpOnGnome(const RunCommand& run, const std::string& name,
                                              const std::string& command) {
    const CommandResult list = run("gsettings", {"get", gnomeKeys, "custom-keybindings"});
    if (!list.succeeded())
        return failed(gnomeFailure(list));
    if (gsettingsForgets(list))
        return failed("GNOME's settings store (dconf) is not available, so a shortcut would "
                      "not be kept.");
    const std::vector<std::string> paths = stringsInGVariantText(list.out);

    std::set<std::string> used;
    for (const std::string& path : paths) {
        const std::string schema = gnomeCustomKey + ":" + path;
        const CommandResult ownCommand = run("gsettings", {"get", schema, "command"});
        const CommandResult binding = run("gsettings", {"get", schema, "binding"});
        if (!ownCommand.succeeded() || !binding.succeeded())
            return failed(gnomeFailure(ownCommand.succeeded() ? binding : ownCommand));
        const auto commandText = stringsInGVariantText(ownCommand.out);
        const auto bindingText = stringsInGVariantText(binding.out);
        const std::string key = bindingText.empty() ? std::string{} : bindingText.front();
        if (!commandText.empty() && runsSameProgram(commandText.front(), command))
            return {Outcome::found, key, {}};
        used.insert(normalizedKey(key));
    }
    for (const char* schema : gnomeBindingSchemas) {
        // A schema this GNOME lacks holds no keys.
        const CommandResult keys = run("gsettings", {"list-recursively", schema});
        if (!keys.ran)
            return failed(gnomeFailure(keys));
        std::string_view lines = keys.out;
        while (!lines.empty()) {
            const auto end = lines.find('\n');
            std::string_view line = lines.substr(0, end);
            lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
            // "schema key value": only the value's strings are keys.
            const auto schemaEnd = line.find(' ');
            const auto keyEnd =
                schemaEnd == std::string_view::npos ? schemaEnd : line.find(' ', schemaEnd + 1);
            if (keyEnd == std::string_view::npos)
                continue;
            for (const std::string& value : stringsInGVariantText(line.substr(keyEnd + 1)))
                used.insert(normalizedKey(value));
        }
    }

    // A place no shortcut uses: not in the list, and holding nothing (GNOME Settings may have
    // left one there, and a list read from a store that lags behind must not cost anybody theirs).
    std::string path;
    for (int n = 0; path.empty(); ++n) {
        std::string candidate = gnomeCustomFolder + std::to_string(n) + "/";
        if (std::find(paths.begin(), paths.end(), candidate) != paths.end())
            continue;
        bool empty = true;
        for (const char* field : {"name", "command", "binding"}) {
            const CommandResult value =
                run("gsettings", {"get", gnomeCustomKey + ":" + candidate, field});
            if (!value.succeeded())
                return failed(gnomeFailure(value));
            const auto strings = stringsInGVariantText(value.out);
            empty = empty && (strings.empty() || strings.front().empty());
        }
        if (empty)
            path = std::move(candidate);
    }
    const std::string key = freeDefaultKey(used);
    const std::string schema = gnomeCustomKey + ":" + path;
    // The shortcut is whole before GNOME's list names it.
    for (const auto& [field, value] :
         {std::pair{"name", name}, std::pair{"command", command}, std::pair{"binding", key}}) {
        const CommandResult set =
            run("gsettings", {"set", schema, field, gvariantTextOfString(value)});
        if (!set.succeeded())
            return failed(gnomeFailure(set));
    }
    std::string listText = "[";
    for (const std::string& existing : paths)
        listText += gvariantTextOfString(existing) + ", ";
    listText += gvariantTextOfString(path) + "]";
    const CommandResult setList =
        run("gsettings", {"set", gnomeKeys, "custom-keybindings", listText});
    if (!setList.succeeded())
        return failed(gnomeFailure(setList));
    const CommandResult check = run("gsettings", {"get", gnomeKeys, "custom-keybindings"});
    const auto stored = stringsInGVariantText(check.out);
    if (!check.succeeded() || std::find(stored.begin(), stored.end(), path) == stored.end())
        return failed("GNOME did not keep the new shortcut.");
    return {key.empty() ? Outcome::addedWithoutKey : Outcome::added, key, {}};
}

DesktopShortcut DesktopShortcut::setUpOnXfce(const RunCommand& run, const std::string& command) {
    const CommandResult list = run("xfconf-query", {"-c", xfceChannel, "-l", "-v"});
    // A channel nobody has written yet lists nothing, and says so.
    const bool empty =
        list.ran && list.exitCode != 0 && list.err.find("no propert") != std::string::npos;
    if (!list.succeeded() && !empty)
        return failed(xfceFailure(list));

    std::vector<std::pair<std::string, std::string>> properties;
    std::string_view lines = empty ? std::string_view{} : std::string_view(list.out);
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
        const auto nameEnd = line.find_first_of(" \t");
        std::string_view name = line.substr(0, nameEnd);
        std::string_view value;
        if (nameEnd != std::string_view::npos) {
            value = line.substr(nameEnd);
            value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t")));
        }
        if (!name.empty())
            properties.emplace_back(name, value);
    }

    std::set<std::string> used;
    bool custom = false;
    for (const auto& [name, value] : properties) {
        if (name == xfceOverride) {
            custom = value == "true";
            continue;
        }
        if (name.starts_with(xfceCustom) && runsSameProgram(value, command))
            return {Outcome::found, name.substr(xfceCustom.size()), {}};
        const auto slash = name.rfind('/');
        used.insert(normalizedKey(name.substr(slash + 1)));
    }
    std::string key = freeDefaultKey(used);
    if (key.empty())
        return failed("Every key Zorvant would suggest is taken on this desktop.");
    // XFCE writes <Primary> for the control key.
    if (const auto control = key.find("<Control>"); control != std::string::npos)
        key.replace(control, 9, "<Primary>");

    auto set = [&](const std::string& property, const std::string& type, const std::string& value) {
        return run("xfconf-query",
                   {"-c", xfceChannel, "-p", property, "-n", "-t", type, "-s", value});
    };
    // XFCE reads its application shortcuts from the custom set only once that set overrides
    // the defaults; until then it starts as a copy of them, as XFCE's own settings make it.
    if (!custom) {
        for (const auto& [name, value] : properties) {
            if (!name.starts_with(xfceDefaults))
                continue;
            const CommandResult copied =
                set(xfceCustom + name.substr(xfceDefaults.size()), "string", value);
            if (!copied.succeeded())
                return failed(xfceFailure(copied));
        }
        const CommandResult overriding = set(xfceOverride, "bool", "true");
        if (!overriding.succeeded())
            return failed(xfceFailure(overriding));
    }
    const CommandResult added = set(xfceCustom + key, "string", command);
    if (!added.succeeded())
        return failed(xfceFailure(added));
    return {Outcome::added, key, {}};
}
