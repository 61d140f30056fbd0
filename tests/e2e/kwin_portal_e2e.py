#!/usr/bin/python3
# Zorvant's global shortcut on KWin through the desktop's real portal (xdg-desktop-portal with
# its KDE backend, started on demand by the session bus) and KWin's own kglobalaccel. Plasma
# keeps the choice of key to System Settings: at start the program is listed there without a
# key, Keyboard Shortcut… says where to choose one, and a key chosen there (set here the way
# System Settings sets it) brings the panel up, also in the next run, without asking again.
#
# usage: kwin_portal_e2e.py ZORVANT SCREENSHOT_FOLDER
import os
import signal
import sys

from kwin_e2e import KWin, active_panel, check_panel
from wayland_desktop import Accessibility, Desktop, check, wait_for, wait_for_value

# What System Settings and the portal call the program's one shortcut in kglobalaccel.
ACTION_ID = ["zorvant", "show-dockets", "zorvant", "Show Dockets"]
# Qt's key code for Ctrl+Alt+D; kglobalaccel reads each key sequence as four of them.
CTRL_ALT_D = 0x04000000 | 0x08000000 | 0x44
NOTE = "No key is set yet: choose one for “Show Dockets” in System Settings → Shortcuts → Zorvant."
# The portal and its KDE backend, started on demand by the session bus; they end with the test.
PORTAL_NAMES = ("org.freedesktop.portal.Desktop", "org.freedesktop.impl.portal.desktop.kde")
PRESS_ATTEMPTS = 5


class Shortcuts:
    # kglobalaccel as KWin serves it: what System Settings reads and writes.
    def __init__(self, bus):
        self.bus = bus

    def _call(self, path, interface, method, signature="", *args):
        return self.bus.call_blocking("org.kde.kglobalaccel", path, interface, method, signature,
                                      args)

    def listed(self):
        # Zorvant's shortcuts as (name, keys), or None while the component is unknown.
        components = self._call("/kglobalaccel", "org.kde.KGlobalAccel", "allComponents")
        if "/component/zorvant" not in [str(path) for path in components]:
            return None
        infos = self._call("/component/zorvant", "org.kde.kglobalaccel.Component",
                           "allShortcutInfos")
        return [(str(info[0]), [int(key) for key in info[6]]) for info in infos]

    def active(self):
        # Whether a program holds the component's shortcuts now (the portal session is open).
        return bool(self._call("/component/zorvant", "org.kde.kglobalaccel.Component",
                               "isActive"))

    def keys(self):
        return [[int(key) for key in sequence[0]] for sequence in self._call(
            "/kglobalaccel", "org.kde.KGlobalAccel", "shortcutKeys", "as", ACTION_ID)]

    def choose(self, key):
        # As System Settings' Shortcuts page stores a key the user picked.
        self._call("/kglobalaccel", "org.kde.KGlobalAccel", "setForeignShortcutKeys", "asa(ai)",
                   ACTION_ID, [([key, 0, 0, 0],)])


def panel_controls(accessibility):
    # The showing panel's Keyboard Shortcut… button and the line (shortcutNote, a notification)
    # that follows its row, or None.
    button = accessibility.find_in_panel("push button", "Keyboard Shortcut…")
    if button is None:
        return None
    row = button.parent
    following = row.parent.getChildAtIndex(row.getIndexInParent() + 1)
    check(following is not None and following.getRoleName() == "notification",
          "no line follows the row of Keyboard Shortcut…")
    return button, following


def press_shortcut(kwin, pid, after):
    # Ctrl+Alt+D until the panel shows: the first press may come before KWin has taken up a key
    # set a moment ago. The shown panel, once active.
    for attempt in range(1, PRESS_ATTEMPTS + 1):
        kwin.input.press("Control_L+Alt_L+d")
        try:
            wait_for("the panel after Ctrl+Alt+D", lambda: any(
                p["pid"] == pid and not p["minimized"] for p in kwin.panels()), 5)
        except AssertionError:
            print("Ctrl+Alt+D %s: no panel after press %d" % (after, attempt), flush=True)
            continue
        print("Ctrl+Alt+D %s: the panel after press %d" % (after, attempt), flush=True)
        return active_panel(kwin, pid, "Ctrl+Alt+D " + after)
    raise AssertionError("Ctrl+Alt+D %s did not show the panel in %d presses"
                         % (after, PRESS_ATTEMPTS))


def close_panel(kwin, pid):
    kwin.input.press("Escape")
    wait_for("the panel to close", lambda: not any(p["pid"] == pid for p in kwin.panels()))


def road(desktop, portal_pids):
    kwin, accessibility = KWin(desktop), Accessibility()
    bus = kwin.bus
    # As Plasma's session start-up leaves the bus: what the portal started on demand needs to
    # know the desktop and reach its display.
    bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "UpdateActivationEnvironment", "a{ss}", ({
                          "XDG_CURRENT_DESKTOP": "KDE", "QT_QPA_PLATFORM": "wayland",
                          "WAYLAND_DISPLAY": desktop.env["WAYLAND_DISPLAY"],
                          "DISPLAY": desktop.env["DISPLAY"]},))
    shortcuts = Shortcuts(bus)

    running = desktop.launch(XDG_CURRENT_DESKTOP="KDE")
    listed = wait_for_value("kglobalaccel to list Zorvant's shortcut", shortcuts.listed,
                            lambda listed: listed is not None, 60)
    check(listed == [("show-dockets", [])], "at start, kglobalaccel lists %r for Zorvant, not "
          "show-dockets without a key" % listed)
    for name in PORTAL_NAMES:
        portal_pids.append(int(bus.call_blocking(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetConnectionUnixProcessID", "s", (name,))))
    check_panel(active_panel(kwin, running.pid, "a plain launch"))

    button, note = wait_for_value("the panel's Keyboard Shortcut…",
                                  lambda: panel_controls(accessibility), bool)
    check(note.name == "", "the shortcut line reads %r before Keyboard Shortcut…" % note.name)
    button.queryAction().doAction(0)
    wait_for_value("the shortcut line to name System Settings",
                   lambda: panel_controls(accessibility)[1].name, lambda text: text == NOTE)
    kwin.shot("shortcut-note")
    check(shortcuts.listed() == [("show-dockets", [])],
          "Keyboard Shortcut… left kglobalaccel with %r for Zorvant" % shortcuts.listed())

    shortcuts.choose(CTRL_ALT_D)
    check(shortcuts.keys() == [[CTRL_ALT_D, 0, 0, 0]],
          "kglobalaccel keeps %r, not the key set" % shortcuts.keys())
    active_panel(kwin, running.pid, "Keyboard Shortcut…")
    close_panel(kwin, running.pid)
    check_panel(press_shortcut(kwin, running.pid, "in the first run"))
    accessibility.type_into_field(kwin.input.type, "4")
    # The key works: the line that said there was none is gone.
    wait_for_value("the shortcut line to clear", lambda: panel_controls(accessibility)[1].name,
                   lambda text: text == "")
    kwin.shot("first-run-pressed")
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")
    wait_for("kglobalaccel to see Zorvant gone", lambda: not shortcuts.active())

    # The next run asks nothing: the key stays where System Settings put it, and works once the
    # program's portal session is open again.
    running = desktop.launch("--background", XDG_CURRENT_DESKTOP="KDE")
    wait_for("kglobalaccel to see Zorvant back", lambda: check(
        running.poll() is None, "zorvant ended") or shortcuts.active(), 60)
    check(shortcuts.keys() == [[CTRL_ALT_D, 0, 0, 0]],
          "the second start left kglobalaccel with %r" % shortcuts.keys())
    check(not any(p["pid"] == running.pid for p in kwin.panels()),
          "a start in the background showed the panel")
    check_panel(press_shortcut(kwin, running.pid, "in the second run"))
    accessibility.type_into_field(kwin.input.type, "2")
    kwin.shot("second-run-pressed")
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, screenshots):
    desktop = Desktop("kwin_wayland_session.sh", os.path.abspath(zorvant), screenshots)
    portal_pids = []
    status = desktop.run_test(lambda desktop: road(desktop, portal_pids))

    # The portal and its backend belong to the desktop's bus: stopping the desktop ends them.
    def alive():
        running = []
        for pid in portal_pids:
            try:
                with open("/proc/%d/stat" % pid) as stat:
                    if stat.read().rsplit(") ", 1)[1][0] != "Z":
                        running.append(pid)
            except FileNotFoundError:
                pass
        return running
    try:
        wait_for("the portal to end with the desktop", lambda: not alive())
    except AssertionError:
        left = alive()
        for pid in left:
            os.kill(pid, signal.SIGKILL)
        print("FAIL: the portal's processes %r outlived the desktop" % left)
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
