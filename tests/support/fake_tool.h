#pragma once

#include "platform/command_runner.h"

// What a faked desktop tool answers before it has done anything: that it ran, or that it is not
// installed.
inline CommandResult fakeToolStart(bool installed) {
    CommandResult result;
    result.installed = installed;
    result.ran = installed;
    result.exitCode = installed ? 0 : -1;
    return result;
}
