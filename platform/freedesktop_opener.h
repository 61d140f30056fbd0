#pragma once

#include "platform/desktop_opener.h"

// Opens locations on a freedesktop.org desktop. A folder is shown in the file manager
// through org.freedesktop.FileManager1 when that service is on the session bus, since
// xdg-open would honour whatever the user's default for folders is (often an editor);
// otherwise, and for files, the location goes to xdg-open as an argument, byte for byte.
class FreedesktopOpener : public DesktopOpener {
public:
    void open(const std::filesystem::path& location) override;

private:
    static bool showInFileManager(const std::filesystem::path& folder);
    static void spawnXdgOpen(const std::filesystem::path& location);
};
