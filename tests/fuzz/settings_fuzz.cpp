// A settings file of any bytes, read through the user defaults and the model as at start-up:
// nothing may crash, and what the model takes from the store is what the store holds.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include "fuzz_check.h"
#include "model/folder_model.h"
#include "platform/user_defaults.h"

namespace {

std::filesystem::path folder;

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // As in the program, the store runs under an application object.
    static int appArgc = 1;
    static QCoreApplication app(appArgc, *argv);
    (void)argc;
    std::string pattern = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    pattern += "/zorvant-fuzz-XXXXXX";
    fuzzCheck(::mkdtemp(pattern.data()) != nullptr, "cannot make a temporary folder");
    folder = pattern;
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = folder / "Zorvant.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    // QSettings keeps what it parsed, and parses a file again only when its size or time has
    // changed: every input gets a time of its own.
    static long inputs = 0;
    const timespec times[2] = {{++inputs, 0}, {inputs, 0}};
    fuzzCheck(::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0, "cannot set the file's time");
    {
        const auto defaults = std::make_shared<UserDefaults>(file);
        const auto recents = defaults->dataForKey("recentDockets");
        const auto bookmark = defaults->dataForKey("rootFolderBookmark");
        const FolderModel model(FolderModelServices{.defaults = defaults});
        fuzzCheck(model.rootFolderBookmark() == bookmark, "the model has another bookmark");
        std::optional<std::vector<RecentDocket>> expected;
        if (recents) {
            const auto decoded = decodeRecentDockets(
                std::string_view(reinterpret_cast<const char*>(recents->data()), recents->size()));
            if (decoded)
                expected = *decoded;
        }
        fuzzCheck(model.recentDockets() == expected.value_or(std::vector<RecentDocket>{}),
                  "the model has other recents than the store");
    }
    return 0;
}
