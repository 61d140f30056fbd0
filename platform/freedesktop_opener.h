#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/desktop_opener.h"

class QObject;

// Opens locations on a freedesktop.org desktop. A folder is shown in the file manager
// through org.freedesktop.FileManager1, since xdg-open would honour whatever the user's
// default for folders is (often an editor); the call is asynchronous, and only an answer that
// says the service is not there sends the folder to xdg-open instead. Files, and folders on a
// desktop without a session bus, go to xdg-open at once, as an argument, byte for byte.
//
// xdg-open is spawned cheaply (posix_spawn), in a session of its own, and reaped from the
// event loop when it ends, so that this long-running process collects no zombies.
class FreedesktopOpener : public DesktopOpener {
public:
    // startupId: the desktop's startup or activation id for the window that an opening brings
    // up, or empty; asked once for each opening.
    explicit FreedesktopOpener(std::function<std::string()> startupId = {});
    ~FreedesktopOpener() override;

    void open(const std::filesystem::path& location, bool isFolder) override;

    // Whether a call to the file manager still waits for its answer, and with it for whether
    // xdg-open is to be asked instead.
    bool isAskingTheFileManager() const;

private:
    std::function<std::string()> m_startupId;
    // Owns what outlives one call to open: the calls to the file manager still unanswered,
    // and the watches on spawned openers still running.
    std::unique_ptr<QObject> m_pending;
};
