// The launcher: what runs each time `zorvant` is started, before any GUI library is loaded.
// A later launch, the path a desktop hotkey takes, only takes a look at the lock, sends its
// reopen request and exits; the first one goes on to load and run the program proper.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <dlfcn.h>
#include <unistd.h>

#include "launcher/command_line.h"
#include "launcher/first_instance.h"
#include "launcher/single_instance.h"
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

// The one module this launcher was built with: the build folder's for a build, the installed
// tree's (relative to the launcher, so that a tree may be installed under any prefix) for an
// install. Never another that happens to lie about: a launcher running the module of another
// build would call an entry it does not know the shape of.
std::string modulePath() {
    const std::string module = ZORVANT_MODULE;
    return module.starts_with('/') ? module : executableFolder() + module;
}

int runFirstInstance(int argc, char** argv, const FirstInstanceStart& start) {
    const std::string path = modulePath();
    if (::access(path.c_str(), F_OK) != 0) {
        diagnostic("Zorvant is not installed completely: its program module " + path +
                   " is missing");
        return 1;
    }
    // Its symbols stay its own: the launcher needs two of them, by name.
    void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!module) {
        diagnostic(std::string("Zorvant cannot load its program module: ") + ::dlerror());
        return 1;
    }
    const auto* identity = static_cast<const char*>(::dlsym(module, buildIdentityName));
    if (!identity || std::string_view(identity) != ZORVANT_BUILD_IDENTITY) {
        diagnostic("Zorvant's program module " + path + " is from build " +
                   (identity ? "\"" + std::string(identity) + "\"" : "unknown") +
                   ", not from the launcher's build \"" ZORVANT_BUILD_IDENTITY
                   "\": reinstall Zorvant");
        return 1;
    }
    const auto entry =
        reinterpret_cast<FirstInstanceEntry>(::dlsym(module, firstInstanceEntryName));
    if (!entry) {
        diagnostic(path + ": " + firstInstanceEntryName + " is missing");
        return 1;
    }
    return entry(argc, argv, &start);
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
    FirstInstanceStart start;
    start.background = commandLine.background;
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
    case SingleInstance::Outcome::replacedInstance:
        start.showPanel = true;
        start.activationToken = token ? token : "";
        break;
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
    start.reopenSocket = instance.listeningSocket();
    return runFirstInstance(argc, argv, start);
}
