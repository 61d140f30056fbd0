#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "platform/signal.h"

class QWindow;

// The program's one place that speaks X11 itself: what an X11 window manager (also GNOME's and
// KDE's on XWayland) needs to treat the panel as a panel rather than an application window,
// and what only the X server can say. Each does nothing on other windowing platforms.

// Keeps the window out of taskbars, pagers and task switchers. Call before each show: the
// window manager drops these states when the window is hidden.
void keepOutOfTaskLists(QWindow* window);

// Hands the window manager the desktop's startup id (the activation token of a launch or a
// tray click) on a shown window, so that it raises the window and gives it the keyboard
// although the program itself has not seen a recent user input.
void passStartupId(QWindow* window, std::string_view startupId);

// Whether the X server has the keyboard focus in the window now; none on other platforms.
std::optional<bool> hasX11KeyboardFocus(QWindow* window);

// Calls `changed` from the event loop after the X server has said that a window of this program
// was mapped, moved, resized or reparented, or had a message: how an XEmbed tray taking the
// icon in shows. Calls that pile up before the loop gets to them are one call. Never called on
// other platforms.
[[nodiscard]] Connection observeX11WindowChanges(std::function<void()> changed);
