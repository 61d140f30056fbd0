// Writes the settings of a Zorvant whose root folder is already chosen, for the benches that
// drive the real program: usage: bench_settings SETTINGS_FILE ROOT_FOLDER
#include <cstdio>

#include "platform/bookmark.h"
#include "platform/user_defaults.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_settings SETTINGS_FILE ROOT_FOLDER\n");
        return 2;
    }
    const Expected<Blob> bookmark = makeBookmark(argv[2]);
    if (!bookmark) {
        std::fprintf(stderr, "%s\n", bookmark.failure().description.c_str());
        return 1;
    }
    UserDefaults(argv[1]).setObject(bookmark.value(), "rootFolderBookmark");
    return 0;
}
