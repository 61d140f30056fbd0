#pragma once

#include <string>

// Which of Qt's windowing platforms the panel runs on. In a Wayland session Zorvant prefers
// XWayland when an X server is there: an X client can place its own window, keep it out of
// taskbars and task switchers, and be raised with the launch's startup id, which no protocol
// lets a plain Wayland client do on GNOME's mutter. The README records what was measured.

struct WindowingEnvironment {
    std::string qpaPlatform;    // QT_QPA_PLATFORM: the user's own choice
    std::string waylandDisplay; // WAYLAND_DISPLAY
    std::string sessionType;    // XDG_SESSION_TYPE
    std::string x11Display;     // DISPLAY
};

// The QT_QPA_PLATFORM value to start with, or empty to leave Qt's own choice alone. With an X
// server that turns out unreachable, Qt falls back to native Wayland.
std::string preferredWindowingPlatform(const WindowingEnvironment& environment);

// Applies the choice for this process; call before the GUI application object is built. The
// program's children (the file manager) see the environment as it was.
void chooseWindowingPlatform();

// Makes sure the environment has an entry for XDG_ACTIVATION_TOKEN (empty if it had none), while
// the program is still single-threaded. Setting the token later then replaces a value in place,
// which glibc does without freeing anything, instead of growing the environment, which may move
// it under a getenv on another thread.
void reserveActivationTokenSlot();

// Whether this process runs inside a Wayland session, natively or through XWayland.
bool isWaylandSession();
