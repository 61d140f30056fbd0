#!/usr/bin/python3
# Zorvant in GNOME Shell's headless Wayland session, with XWayland and the AppIndicator
# extension: a second launch, carrying an activation token as GNOME's launchers pass one, shows
# the panel centred in the work area, as a panel and not an application window, with the
# keyboard in the number field; again after it was closed. The shell itself (through Eval, which
# --unsafe-mode opens) reports the windows, types through a virtual keyboard, makes the tokens
# and takes the screenshots.
#
# usage: gnome_e2e.py ZORVANT SCREENSHOT_FOLDER
import json
import os
import signal
import sys

import dbus

from wayland_desktop import Accessibility, Desktop, check, wait_for

PANEL_SIZE = (420, 420)
PRELUDE = "const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;\n"
PANELS = """
const tracker = Shell.WindowTracker.get_default();
const switcher = global.display.get_tab_list(Meta.TabList.NORMAL, null);
JSON.stringify(global.get_window_actors().map(actor => actor.meta_window)
    .filter(w => w.get_title() === "Dockets" && !w.is_hidden()).map(w => {
        const r = w.get_frame_rect();
        return {pid: w.get_pid(), normal: w.get_window_type() === Meta.WindowType.NORMAL,
                skipTaskbar: w.skip_taskbar, inSwitcher: switcher.includes(w),
                topBarApp: tracker.focus_app !== null && tracker.get_window_app(w) === tracker.focus_app,
                focused: w.has_focus(), rect: [r.x, r.y, r.width, r.height]};
    }))
"""
KEYVALS = {**{str(digit): 0x30 + digit for digit in range(10)},
           "Escape": 0xff1b, "Control_L": 0xffe3, "a": 0x61}


class Shell:
    def __init__(self, desktop):
        self.desktop, self.bus = desktop, dbus.SessionBus()
        self.shell = self.bus.get_object("org.gnome.Shell", "/org/gnome/Shell")
        # Events sent through a new virtual device are dropped for a while; it is made early.
        self.eval("global._zorvantKeyboard = Clutter.get_default_backend().get_default_seat()"
                  ".create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE); true")

    def eval(self, script):
        ok, result = self.shell.Eval(PRELUDE + script, dbus_interface="org.gnome.Shell")
        check(ok, "GNOME Shell could not run %r: %s" % (script, result))
        return json.loads(result) if result else None

    def panels(self, pid):
        return [p for p in json.loads(self.eval(PANELS)) if p["pid"] == pid]

    def work_area(self):
        return self.eval("(a => [a.x, a.y, a.width, a.height])(Main.layoutManager"
                         ".getWorkAreaForMonitor(Main.layoutManager.primaryIndex))")

    def activation_token(self):
        # What GNOME's launchers hand a program they start, as XDG_ACTIVATION_TOKEN.
        return self.eval("global.create_app_launch_context(global.get_current_time(), -1)"
                         ".get_startup_notify_id(Gio.AppInfo.create_from_commandline("
                         "'zorvant', 'Zorvant', Gio.AppInfoCreateFlags.NONE), [])")

    def press(self, *names):
        # Each name a key, or keys joined by "+" held together ("Control_L+a").
        events = []
        for combination in names:
            keys = [KEYVALS[key] for key in combination.split("+")]
            events += [(key, "PRESSED") for key in keys] + [(key, "RELEASED")
                                                             for key in reversed(keys)]
        self.eval("(() => { let time = GLib.get_monotonic_time(); %s; return true; })()" % "; ".join(
            "global._zorvantKeyboard.notify_keyval(time++, %d, Clutter.KeyState.%s)" % event
            for event in events))

    def type(self, text):
        self.press(*text)

    def capture(self, path):
        ok, _ = self.bus.call_blocking(
            "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
            "org.gnome.Shell.Screenshot", "Screenshot", "bbs", (False, False, path))
        check(ok, "GNOME Shell took no screenshot")
        with open(path, "rb") as file:
            return file.read()

    def shot(self, name):
        # Kept once two captures in a row agree: the shell has painted what the program drew.
        path = os.path.join(self.desktop.screenshots, "%02d-%s.png" % (
            len(os.listdir(self.desktop.screenshots)) + 1, name))
        captures = [None]
        wait_for("the screen to settle",
                 lambda: captures.append(self.capture(path)) or captures[-1] == captures[-2])


def shown_panel(shell, pid):
    # The one shown panel of this process, with the keyboard, or None.
    panels = shell.panels(pid)
    return panels[0] if len(panels) == 1 and panels[0]["focused"] else None


def check_panel(panel, work_area):
    x, y, width, height = panel["rect"]
    check(not panel["normal"] and panel["skipTaskbar"] and not panel["inSwitcher"]
          and not panel["topBarApp"], "the panel is shown as an application window: %r" % panel)
    # No icon position comes with a launch: centred in the work area, under the top bar.
    area_x, area_y, area_width, area_height = work_area
    check((width, height) == PANEL_SIZE and abs(x - area_x - (area_width - width) // 2) <= 1
          and abs(y - area_y - (area_height - height) // 2) <= 1,
          "the panel %r is not centred in the work area %r" % (panel["rect"], work_area))


def second_launch(desktop, shell):
    token = shell.activation_token()
    launched = desktop.launch(XDG_ACTIVATION_TOKEN=token, DESKTOP_STARTUP_ID=token)
    check(desktop.finish(launched) == 0, "a second launch did not exit 0")


def road(desktop):
    shell, accessibility = Shell(desktop), Accessibility()
    work_area = shell.work_area()
    running = desktop.launch()
    runtime = desktop.env["XDG_RUNTIME_DIR"]
    wait_for("zorvant to listen for a second launch", lambda: check(
        running.poll() is None, "zorvant ended") or any(
        name.startswith("zorvant") and name.endswith(".socket")
        for _, _, names in os.walk(runtime) for name in names), 60)
    check(not shell.panels(running.pid), "a window at launch")

    second_launch(desktop, shell)
    check_panel(wait_for("the focused panel after a second launch",
                         lambda: shown_panel(shell, running.pid)), work_area)
    accessibility.wait_for_field("focused", lambda text, focused: focused)
    # Until the virtual keyboard's keys arrive, then the field is typed afresh.
    accessibility.wait_for_field("to take keys from the virtual keyboard",
                                 lambda text, focused: text or shell.type("0"))
    shell.press("Control_L+a")
    shell.type("123")
    accessibility.wait_for_field("focused, reading 123",
                                 lambda text, focused: focused and text == "123")
    shell.shot("second-launch")

    # Escape closes the panel; the next launch brings it back with the keyboard.
    shell.press("Escape")
    wait_for("the panel to close", lambda: not shell.panels(running.pid))
    second_launch(desktop, shell)
    check_panel(wait_for("the focused panel again", lambda: shown_panel(shell, running.pid)),
                work_area)
    accessibility.wait_for_field("focused", lambda text, focused: focused)
    shell.type("7")
    accessibility.wait_for_field("focused, with 7 typed",
                                 lambda text, focused: focused and text in ("7", "1237"))
    shell.shot("third-launch")
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, screenshots):
    desktop = Desktop("gnome_wayland_session.sh", os.path.abspath(zorvant), screenshots)
    return desktop.run_test(road)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
