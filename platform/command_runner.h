#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// What a desktop tool said when it was run to the end, or that it could not be run.
struct CommandResult {
    // False when the program is not on PATH.
    bool installed = true;
    // False when it is not installed, could not start, or ran past its time.
    bool ran = false;
    int exitCode = -1;
    std::string out;
    std::string err;

    bool succeeded() const { return ran && exitCode == 0; }
};

// Runs a desktop tool (gsettings, xfconf-query) and waits for it: for worker threads only. A
// stand-in in tests.
using RunCommand = std::function<CommandResult(const std::string& program,
                                               const std::vector<std::string>& arguments)>;

// Runs the program found on PATH with the arguments, without a shell, and waits at most
// `patience` for it to end; past that it is killed and counts as not run. Blocks: call it
// from a worker thread.
CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds patience = std::chrono::seconds(5));
