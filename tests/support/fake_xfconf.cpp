#include "support/fake_xfconf.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "support/fake_tool.h"

CommandResult FakeXfconf::operator()(const std::string& program,
                                     const std::vector<std::string>& args) {
    EXPECT_EQ(program, "xfconf-query");
    CommandResult result = fakeToolStart(installed);
    if (!installed)
        return result;
    if (args == std::vector<std::string>{"-c", "xfce4-keyboard-shortcuts", "-l", "-v"}) {
        if (properties.empty()) {
            result.exitCode = 1;
            result.err = "Channel \"xfce4-keyboard-shortcuts\" contains no properties\n";
        }
        for (const auto& [name, value] : properties)
            result.out +=
                name + std::string(40 - std::min<std::size_t>(name.size(), 39), ' ') + value + "\n";
    } else if (args.size() == 9 && args[2] == "-p" && args[4] == "-n" && args[7] == "-s") {
        writes.push_back(args);
        properties[args[3]] = args[8];
    } else {
        ADD_FAILURE() << "unexpected xfconf-query call";
        result.exitCode = 1;
    }
    return result;
}
