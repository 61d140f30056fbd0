// The launcher: what runs each time `zorvant` is started, before any GUI library is loaded.
// A later launch, the path a desktop hotkey takes, only takes a look at the lock, sends its
// reopen request and exits; the first one goes on to load and run the program proper.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "app/command_line.h"
#include "app/first_instance.h"
#include "app/single_instance.h"
#include "platform/log.h"

namespace {

const char* environment(const char* name) {
    return std::getenv(name);
}

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string executableFolder() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

// The program's module: beside the launcher in a build folder, in the private library folder
// of an installed tree.
int runFirstInstance(int argc, char** argv, int reopenSocket) {
    const std::string folder = executableFolder();
    std::string errors;
    for (const char* relative : {ZORVANT_MODULE_BUILT, ZORVANT_MODULE_INSTALLED}) {
        const std::string path = folder + relative;
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_GLOBAL);
        if (!module) {
            errors = ::dlerror();
            break;
        }
        const auto entry =
            reinterpret_cast<FirstInstanceEntry>(::dlsym(module, firstInstanceEntryName));
        if (!entry) {
            errors = path + ": " + firstInstanceEntryName + " is missing";
            break;
        }
        return entry(argc, argv, reopenSocket);
    }
    diagnostic(errors.empty() ? "Zorvant is not installed completely: its program module " +
                                    folder + ZORVANT_MODULE_INSTALLED + " is missing"
                              : "Zorvant cannot load its program module: " + errors);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::help:
        print(usageText());
        return 0;
    case CommandLine::Action::version:
        print(versionText());
        return 0;
    case CommandLine::Action::refuse:
        diagnostic(commandLine.complaint);
        return 2;
    case CommandLine::Action::run:
        break;
    }

    SingleInstance instance;
    const char* token = environment("XDG_ACTIVATION_TOKEN");
    switch (instance.claimOrReopen(token ? token : "")) {
    case SingleInstance::Outcome::reopened:
        return 0;
    case SingleInstance::Outcome::notAnswering:
        diagnostic("Zorvant is already running but does not answer.");
        return 1;
    case SingleInstance::Outcome::failed:
        // Without the lock every launch would be a first one: a hotkey would start another
        // tray icon each time, and the instances would overwrite each other's settings.
        diagnostic(instance.failure());
        return 1;
    case SingleInstance::Outcome::primary:
        break;
    }

    // Checked only now: with an instance running, a launch needs no display to reach it.
    if (const auto problem = missingDisplay(environment)) {
        diagnostic(*problem);
        return 1;
    }
    if (!instance.listen()) {
        diagnostic(instance.failure());
        return 1;
    }
    return runFirstInstance(argc, argv, instance.listeningSocket());
}
