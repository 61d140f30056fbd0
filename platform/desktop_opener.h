#pragma once

#include <filesystem>

// Asks the desktop to open a location with its default application: a folder in the file
// manager, a file in its viewer. The desktop's answer is never examined, so nothing is
// reported back.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    virtual void open(const std::filesystem::path& location) = 0;
};
