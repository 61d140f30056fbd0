#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/command_runner.h"

// xfconf-query over XFCE's keyboard shortcut channel in memory, answering the calls the
// shortcut code makes as the real tool does; any other call fails the test. A RunCommand
// through std::ref.
struct FakeXfconf {
    std::map<std::string, std::string> properties;
    // Every property written, with the call's arguments.
    std::vector<std::vector<std::string>> writes;
    bool installed = true;

    CommandResult operator()(const std::string& program, const std::vector<std::string>& args);
};
