#pragma once

#include <filesystem>

// Asks the desktop to open a location with its default application: a folder in the file
// manager, a file in its viewer. The desktop's answer is never examined, so nothing is
// reported back. The caller says which of the two the location is, as the listing that found
// it told: the opener itself never asks the file system, which may not answer.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    virtual void open(const std::filesystem::path& location, bool isFolder) = 0;
};
