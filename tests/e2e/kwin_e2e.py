#!/usr/bin/python3
# Zorvant on KWin's Wayland session (virtual output, XWayland), with no tray: a second launch
# shows the panel, which stays out of the taskbar and task switcher, is the active window and
# takes typed keys, again after it was closed. KWin's own scripting reports the windows, its
# fake input protocol types, and its screenshot interface takes the pictures.
#
# usage: kwin_e2e.py ZORVANT SCREENSHOT_FOLDER
import itertools
import json
import os
import signal
import subprocess
import sys

import dbus

from kwin_fake_input import FakeInput
from wayland_desktop import Accessibility, Desktop, check, wait_for, wait_for_value
from zorvant_e2e import SHOWN_WITHIN, holds_for

SCREEN = (1280, 800)
PANEL_SIZE = (420, 420)
# Each query prints one line to KWin's log, marked so that the test finds its own answer.
QUERY = """
var windows = workspace.clientList().filter(function (c) { return c.caption === "Dockets"; });
print("%s " + JSON.stringify(windows.map(function (c) {
    return {pid: c.pid, skipTaskbar: c.skipTaskbar, skipSwitcher: c.skipSwitcher,
            normal: c.normalWindow, active: workspace.activeClient === c, minimized: c.minimized,
            rect: [c.frameGeometry.x, c.frameGeometry.y, c.frameGeometry.width,
                   c.frameGeometry.height]};
})));
"""


class KWin:
    def __init__(self, desktop):
        self.desktop, self.bus, self.queries = desktop, dbus.SessionBus(), itertools.count()
        self.log = desktop.path("desktop/kwin.log")
        self.input = FakeInput(desktop.env["XDG_RUNTIME_DIR"], desktop.env["WAYLAND_DISPLAY"])

    def _scripting(self, method, signature="", *args):
        return self.bus.call_blocking("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                      method, signature, args)

    def panels(self):
        # The windows titled "Dockets", as KWin sees them now.
        mark = "zorvant-query-%d-%d" % (os.getpid(), next(self.queries))
        script = self.desktop.path(mark + ".js")
        with open(script, "w") as file:
            file.write(QUERY % mark)
        self._scripting("loadScript", "ss", script, mark)
        self._scripting("start")

        def answer():
            with open(self.log, errors="replace") as log:
                return next((line.split(mark + " ", 1)[1] for line in log if mark + " " in line),
                            None)
        try:
            return json.loads(wait_for("KWin to run the query script", answer))
        finally:
            self._scripting("unloadScript", "s", mark)

    def capture(self):
        # The screen's pixels and their layout.
        read_end, write_end = os.pipe()
        try:
            result = self.bus.call_blocking(
                "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                "CaptureArea", "iiuua{sv}h", (0, 0, SCREEN[0], SCREEN[1], {},
                                             dbus.types.UnixFd(write_end)))
        finally:
            os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            pixels = pipe.read()
        return pixels, tuple(int(result[key]) for key in ("width", "height", "stride"))

    def shot(self, name):
        # Kept once two captures in a row agree: KWin has painted what the program drew.
        captures = [None]
        wait_for("the screen to settle",
                 lambda: captures.append(self.capture()) or captures[-1] == captures[-2])
        pixels, (width, height, stride) = captures[-1]
        rows = b"".join(pixels[row * stride:row * stride + width * 4] for row in range(height))
        path = os.path.join(self.desktop.screenshots, "%02d-%s.png" % (
            len(os.listdir(self.desktop.screenshots)) + 1, name))
        # QImage's 32-bit formats lie in memory as blue, green, red, alpha.
        subprocess.run(["convert", "-size", "%dx%d" % (width, height), "-depth", "8", "bgra:-",
                        "-alpha", "off", path], input=rows, check=True, timeout=60)


def active_panel(kwin, pid, after):
    # The one shown panel of this process, once it is the active window.
    return wait_for_value("the active panel after " + after, lambda: [
        p for p in kwin.panels() if p["pid"] == pid and not p["minimized"]],
        lambda panels: len(panels) == 1 and panels[0]["active"])[0]


def check_panel(panel):
    x, y, width, height = panel["rect"]
    check(panel["skipTaskbar"] and panel["skipSwitcher"] and not panel["normal"],
          "the panel is listed as an application window: %r" % panel)
    # No tray here: the panel is centred by the program, not placed by KWin.
    check((width, height) == PANEL_SIZE and abs(x - (SCREEN[0] - width) // 2) <= 1
          and abs(y - (SCREEN[1] - height) // 2) <= 1,
          "the panel %r is not centred on the %dx%d screen" % (panel["rect"], *SCREEN))


def road(desktop):
    kwin, accessibility = KWin(desktop), Accessibility()
    # Started as at login: nothing shows, also once the program knows there is no tray (the
    # moment a launch by the user shows the panel).
    running = desktop.launch("--background")
    runtime = desktop.env["XDG_RUNTIME_DIR"]
    wait_for("zorvant to listen for a second launch", lambda: check(
        running.poll() is None, "zorvant ended") or any(
        name.startswith("zorvant") and name.endswith(".socket")
        for _, _, names in os.walk(runtime) for name in names), 60)
    log = desktop.path(desktop.launches[-1][1])
    wait_for("zorvant to find no tray", lambda: b"no system tray" in open(log, "rb").read(), 60)
    holds_for("no window at launch",
              lambda: not any(p["pid"] == running.pid for p in kwin.panels()), SHOWN_WITHIN)

    check(desktop.finish(desktop.launch()) == 0, "the second launch did not exit 0")
    check_panel(active_panel(kwin, running.pid, "a second launch"))
    accessibility.type_into_field(kwin.input.type, "123")
    kwin.shot("second-launch")

    # Escape closes the panel; the next launch brings it back with the keyboard, and the
    # number selected: "7" replaces "123".
    kwin.input.press("Escape")
    wait_for("the panel to close", lambda: not any(
        p["pid"] == running.pid for p in kwin.panels()))
    check(desktop.finish(desktop.launch()) == 0, "the third launch did not exit 0")
    check_panel(active_panel(kwin, running.pid, "a third launch"))
    accessibility.type_into_field(kwin.input.type, "7", "focused, with 7 typed")
    kwin.shot("third-launch")
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")

    # Started from the applications menu: the panel comes up at once, centred, with the
    # keyboard in the number field.
    running = desktop.launch()
    log = desktop.path(desktop.launches[-1][1])
    wait_for("zorvant to find no tray", lambda: b"no system tray" in open(log, "rb").read(), 60)
    wait_for("the panel within %g s of the no-tray line" % SHOWN_WITHIN,
             lambda: any(p["pid"] == running.pid for p in kwin.panels()), SHOWN_WITHIN)
    check_panel(active_panel(kwin, running.pid, "a plain launch"))
    accessibility.type_into_field(kwin.input.type, "45")
    kwin.shot("first-start")
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, screenshots):
    desktop = Desktop("kwin_wayland_session.sh", os.path.abspath(zorvant), screenshots)
    return desktop.run_test(road)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
