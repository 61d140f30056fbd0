#include "support/fake_gsettings.h"

#include <gtest/gtest.h>

#include "platform/desktop_shortcut.h"
#include "support/fake_tool.h"

namespace {

const std::string mediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
const std::string customKeybinding = mediaKeys + ".custom-keybinding:";

} // namespace

CommandResult FakeGsettings::operator()(const std::string& program,
                                        const std::vector<std::string>& args) {
    EXPECT_EQ(program, "gsettings");
    CommandResult result = fakeToolStart(installed);
    if (!installed)
        return result;
    if (forgets)
        result.err = "GLib-GIO-Message: Using the 'memory' GSettings backend.  Your settings "
                     "will not be saved or shared with other applications.\n";
    const std::string& schema = args.at(1);
    if (!schemas.contains(schema) && !schema.starts_with(customKeybinding + "/")) {
        result.exitCode = 1;
        result.err = "No such schema \u201c" + schema + "\u201d\n";
        return result;
    }
    if (args[0] == "get") {
        const auto& keys = values[schema];
        const auto value = keys.find(args.at(2));
        result.out = (value != keys.end() ? value->second : "''") + "\n";
    } else if (args[0] == "set") {
        writes.push_back(args);
        if (!forgets)
            values[schema][args.at(2)] = args.at(3);
    } else if (args[0] == "list-recursively") {
        for (const auto& [key, value] : values[schema])
            result.out += schema + " " + key + " " + value + "\n";
    }
    return result;
}

void FakeGsettings::addUserShortcut(const std::string& path, const std::string& command,
                                    const std::string& binding) {
    values[customKeybinding + path] = {{"name", "'Mine'"},
                                       {"command", gvariantTextOfString(command)},
                                       {"binding", gvariantTextOfString(binding)}};
    std::string& paths = values[mediaKeys]["custom-keybindings"];
    paths = paths == "@as []" ? "['" + path + "']"
                              : paths.substr(0, paths.size() - 1) + ", '" + path + "']";
}

std::map<std::string, std::string> FakeGsettings::custom(const std::string& path) {
    return values[customKeybinding + path];
}

std::vector<std::string> FakeGsettings::list() {
    return stringsInGVariantText(values[mediaKeys]["custom-keybindings"]);
}
