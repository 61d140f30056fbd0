#!/usr/bin/python3
# Zorvant in GNOME Shell's headless Wayland session, with XWayland and the AppIndicator
# extension: the tray icon turns up in the top bar, and a double click on it shows the panel by
# the icon or centred; a second launch, carrying an activation token as GNOME's launchers pass
# one, shows it centred in the work area. Each time it is a panel and not an application window,
# with the keyboard in the number field. The shell itself (through Eval, which --unsafe-mode
# opens) reports the windows and the icons, clicks and types through virtual devices, makes the
# tokens and takes the screenshots.
#
# "Keyboard Shortcut…" from the icon's menu then adds one custom shortcut to GNOME's own settings,
# on a key nothing else uses and beside the user's own, and opens GNOME Settings at the keyboard;
# gnome-settings-daemon's media keys (started by the test, as a session does) run it when the
# key is pressed, and the panel comes up as after a second launch.
#
# usage: gnome_e2e.py ZORVANT SCREENSHOT_FOLDER
import contextlib
import json
import os
import re
import signal
import subprocess
import sys

import dbus

from wayland_desktop import Accessibility, Desktop, check, wait_for, wait_for_value

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
ICONS = """
JSON.stringify(Object.entries(Main.panel.statusArea)
    .filter(([key, icon]) => key.startsWith("appindicator-") && icon && icon._indicator)
    .map(([key, icon]) => {
        const box = icon.get_transformed_extents();
        return {busName: icon._indicator.busName,
                shown: icon.visible && icon.mapped && icon.has_allocation(),
                rect: [box.get_x(), box.get_y(), box.get_width(), box.get_height()]
                    .map(Math.round)};
    }))
"""
KEYVALS = {**{str(digit): 0x30 + digit for digit in range(10)},
           **{chr(letter): letter for letter in range(ord("a"), ord("z") + 1)},
           "Escape": 0xff1b, "Control_L": 0xffe3, "Alt_L": 0xffe9, "Super_L": 0xffeb,
           "Shift_L": 0xffe1}
MEDIA_KEYS = "org.gnome.settings-daemon.plugins.media-keys"
# Every schema where GNOME keeps keys, as the program checks them.
KEY_SCHEMAS = ("org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
               "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings",
               MEDIA_KEYS)



class Shell:
    def __init__(self, desktop):
        self.desktop, self.bus = desktop, dbus.SessionBus()
        self.shell = self.bus.get_object("org.gnome.Shell", "/org/gnome/Shell")
        # Events sent through a new virtual device are dropped for a while; they are made early.
        self.eval("const seat = Clutter.get_default_backend().get_default_seat();"
                  "global._zorvantKeyboard = seat.create_virtual_device("
                  "    Clutter.InputDeviceType.KEYBOARD_DEVICE);"
                  "global._zorvantPointer = seat.create_virtual_device("
                  "    Clutter.InputDeviceType.POINTER_DEVICE); true")

    def eval(self, script):
        ok, result = self.shell.Eval(PRELUDE + script, dbus_interface="org.gnome.Shell")
        check(ok, "GNOME Shell could not run %r: %s" % (script, result))
        return json.loads(result) if result else None

    def panels(self, pid):
        return [p for p in json.loads(self.eval(PANELS)) if p["pid"] == pid]

    def tray_icons(self, pid):
        # The top bar's AppIndicator icons, laid out, whose item lives in this process.
        def owner(bus_name):
            return self.bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                          "s", (bus_name,))
        return [icon for icon in json.loads(self.eval(ICONS))
                if icon["shown"] and None not in icon["rect"] and icon["rect"][2] > 0
                and owner(icon["busName"]) == pid]

    def point_at(self, x, y):
        # Moves the pointer, again until the shell has it there.
        def there():
            self.eval("global._zorvantPointer.notify_absolute_motion("
                      "GLib.get_monotonic_time(), %d, %d); true" % (x, y))
            return self.eval("global.get_pointer().slice(0, 2)") == [x, y]
        wait_for("the pointer at %d,%d" % (x, y), there)

    def click(self, x, y, times=1):
        self.point_at(x, y)
        # Each event stamped with the time it is sent: never ahead of the shell's clock.
        self.eval("; ".join("global._zorvantPointer.notify_button(GLib.get_monotonic_time(), "
                            "Clutter.BUTTON_PRIMARY, Clutter.ButtonState.%s)" % state
                            for state in ("PRESSED", "RELEASED") * times) + "; true")

    def double_click(self, x, y):
        self.click(x, y, times=2)

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
        self.eval("; ".join("global._zorvantKeyboard.notify_keyval(GLib.get_monotonic_time(), "
                            "%d, Clutter.KeyState.%s)" % event for event in events) + "; true")

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


def focused_panel(shell, pid, after):
    # The one shown panel of this process, once it has the keyboard.
    return wait_for_value("the focused panel after " + after, lambda: shell.panels(pid),
                          lambda panels: len(panels) == 1 and panels[0]["focused"])[0]


def check_panel(panel, work_area, icon=None):
    x, y, width, height = panel["rect"]
    check(not panel["normal"] and panel["skipTaskbar"] and not panel["inSwitcher"]
          and not panel["topBarApp"], "the panel is shown as an application window: %r" % panel)
    # Centred in the work area, under the top bar; or, opened from the icon, just under it.
    area_x, area_y, area_width, area_height = work_area
    centred = abs(x - area_x - (area_width - width) // 2) <= 1 and \
        abs(y - area_y - (area_height - height) // 2) <= 1
    by_icon = icon is not None and area_y <= y <= area_y + 16 and \
        x <= icon["rect"][0] + icon["rect"][2] // 2 <= x + width
    check((width, height) == PANEL_SIZE and (centred or by_icon)
          and area_x <= x and x + width <= area_x + area_width
          and y + height <= area_y + area_height,
          "the panel %r is neither centred in the work area %r nor under the icon %r"
          % (panel["rect"], work_area, icon))


def second_launch(desktop, shell):
    token = shell.activation_token()
    launched = desktop.launch(XDG_ACTIVATION_TOKEN=token, DESKTOP_STARTUP_ID=token)
    check(desktop.finish(launched) == 0, "a second launch did not exit 0")


def road(desktop):
    shell, accessibility = Shell(desktop), Accessibility()
    work_area = shell.work_area()
    # Its shortcut runs it as `zorvant`; its desktop tools read GNOME's settings where the
    # session keeps them.
    running = desktop.launch("--background", XDG_CONFIG_HOME=desktop.env["XDG_CONFIG_HOME"],
                             PATH=os.path.dirname(desktop.zorvant) + ":" + desktop.zorvant_env["PATH"])
    runtime = desktop.env["XDG_RUNTIME_DIR"]
    wait_for("zorvant to listen for a second launch", lambda: check(
        running.poll() is None, "zorvant ended") or any(
        name.startswith("zorvant") and name.endswith(".socket")
        for _, _, names in os.walk(runtime) for name in names), 60)
    icon = wait_for("zorvant's icon in the top bar", lambda: shell.tray_icons(running.pid), 60)[0]
    check(not shell.panels(running.pid), "a window at launch")

    # The first double click on a new icon: the extension makes it two Activates, on the press
    # and on the release, until it has seen the item answer one. One gesture, one panel.
    icon_x, icon_y = (icon["rect"][0] + icon["rect"][2] // 2,
                      icon["rect"][1] + icon["rect"][3] // 2)
    shell.double_click(icon_x, icon_y)
    check_panel(focused_panel(shell, running.pid, "the first double click"), work_area, icon)
    accessibility.wait_for_field("focused", lambda text, focused: focused)
    # Until the virtual keyboard's keys arrive, then the field is typed afresh.
    accessibility.wait_for_field("to take keys from the virtual keyboard",
                                 lambda text, focused: text or shell.type("0"))
    shell.press("Control_L+a")
    shell.type("42")
    accessibility.wait_for_field("focused, reading 42",
                                 lambda text, focused: focused and text == "42")
    # A double click on the icon closes the panel, and the next one shows it again (a single
    # click brings up the icon's menu).
    shell.double_click(icon_x, icon_y)
    wait_for("the panel to close on a double click", lambda: not shell.panels(running.pid))
    shell.double_click(icon_x, icon_y)
    check_panel(focused_panel(shell, running.pid, "a double click on the icon"), work_area, icon)
    # The panel selects the old number as it shows: typing replaces it.
    accessibility.type_into_field(shell.type, "43")
    shell.shot("tray")
    shell.press("Escape")
    wait_for("the panel to close", lambda: not shell.panels(running.pid))

    # The icon's place is known from the double click: the panel opens there again.
    second_launch(desktop, shell)
    check_panel(focused_panel(shell, running.pid, "a second launch"), work_area, icon)
    accessibility.type_into_field(shell.type, "123")
    shell.shot("second-launch")

    # Escape closes the panel; the next launch brings it back with the keyboard, and the
    # number selected: "7" replaces "123".
    shell.press("Escape")
    wait_for("the panel to close", lambda: not shell.panels(running.pid))
    second_launch(desktop, shell)
    check_panel(focused_panel(shell, running.pid, "a third launch"), work_area, icon)
    accessibility.type_into_field(shell.type, "7", "focused, with 7 typed")
    shell.shot("third-launch")
    shell.press("Escape")
    wait_for("the panel to close", lambda: not shell.panels(running.pid))

    keyboard_shortcut(desktop, shell, running, icon, work_area, accessibility)
    check(desktop.finish(running, signal.SIGTERM) == 0, "SIGTERM did not end zorvant cleanly")


def gsettings(desktop, *arguments):
    return subprocess.run(["gsettings", *arguments], env=desktop.env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=30, check=True).stdout.strip()


def custom_shortcuts(desktop):
    # GNOME's custom shortcuts as its settings list them: {path: {name, command, binding}}.
    paths = re.findall(r"'([^']*)'", gsettings(desktop, "get", MEDIA_KEYS, "custom-keybindings"))
    return {path: {key: re.sub(r"^'(.*)'$", r"\1", gsettings(
        desktop, "get", MEDIA_KEYS + ".custom-keybinding:" + path, key))
        for key in ("name", "command", "binding")} for path in paths}


def key_names(binding):
    # "<Control><Alt>d" as the virtual keyboard's key names: "Control_L+Alt_L+d".
    modifiers = re.findall(r"<(\w+)>", binding)
    names = {"Control": "Control_L", "Primary": "Control_L", "Alt": "Alt_L",
             "Super": "Super_L", "Shift": "Shift_L"}
    return "+".join([names[m] for m in modifiers] + [re.sub(r"^(<\w+>)*", "", binding).lower()])


def same_key(a, b):
    canonical = lambda key: sorted(re.sub("primary|ctrl", "control", key.lower()).split(">"))
    return canonical(a) == canonical(b)


def keyboard_shortcut(desktop, shell, running, icon, work_area, accessibility):
    # A shortcut the user made, on the key the program would offer first.
    mine = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/"
    for key, value in (("name", "'Terminal'"), ("command", "'x-terminal-emulator'"),
                       ("binding", "'<Primary><Alt>d'")):
        gsettings(desktop, "set", MEDIA_KEYS + ".custom-keybinding:" + mine, key, value)
    gsettings(desktop, "set", MEDIA_KEYS, "custom-keybindings", "['%s']" % mine)
    before = custom_shortcuts(desktop)
    # GNOME Settings, as far as the program can tell: a stand-in that says where it was opened.
    settings_log = desktop.path("gnome-control-center.log")
    with open(desktop.path("bin/gnome-control-center"), "w") as stand_in:
        stand_in.write("#!/bin/sh\necho \"$*\" >> %s\n" % settings_log)
    os.chmod(stand_in.name, 0o755)
    # The session's media keys, which run custom shortcuts; zorvant is on their path by its name.
    on_path = os.path.dirname(desktop.zorvant) + ":" + desktop.env["PATH"]
    desktop.spawn(["/usr/libexec/gsd-media-keys"], "gsd-media-keys.log",
                  dict(desktop.env, PATH=on_path))

    def choose_keyboard_shortcut():
        # The entry chosen as the top bar's menu chooses it: an Event on the item's own menu.
        # (In this headless shell the extension can drop the item's icon later in the run, so
        # the test does not go through the icon; the menu was seen in the top bar by hand.)
        menu = dbus.Interface(shell.bus.get_object(icon["busName"], "/MenuBar"),
                              "com.canonical.dbusmenu")
        _, (_, _, entries) = menu.GetLayout(0, -1, [])
        labels = {str(entry[1].get("label")): int(entry[0]) for entry in entries}
        check(list(labels) == ["Show Dockets", "Keyboard Shortcut…"],
              "the icon's menu is %r" % list(labels))
        menu.Event(labels["Keyboard Shortcut…"], "clicked", dbus.String("", variant_level=1),
                   dbus.UInt32(0))

    choose_keyboard_shortcut()
    added = wait_for_value("Zorvant's shortcut in GNOME's settings",
                           lambda: custom_shortcuts(desktop), lambda now: len(now) == 2)
    check(added[mine] == before[mine], "the user's shortcut changed: %r" % added[mine])
    ours = next(shortcut for path, shortcut in added.items() if path != mine)
    check(ours["name"] == "Zorvant" and ours["command"] == "zorvant" and ours["binding"],
          "Zorvant's shortcut is %r" % ours)
    taken = [key for schema in KEY_SCHEMAS for line in
             gsettings(desktop, "list-recursively", schema).splitlines()
             for key in re.findall(r"'([^']*)'", line.split(" ", 2)[-1])]
    check(not any(same_key(ours["binding"], key) for key in taken + [before[mine]["binding"]]),
          "Zorvant's key %s is taken already" % ours["binding"])
    wait_for("GNOME Settings opened at the keyboard", lambda: os.path.exists(settings_log)
             and open(settings_log).read() == "keyboard\n")
    # Settings took the user's eye: the panel waits for the shortcut.
    check(not shell.panels(running.pid), "the panel came up beside GNOME Settings")

    # The key shows the panel, as a second launch does: focused, the number selected. The media
    # keys grab it once they have read the new shortcut: pressed until they have.
    keys = key_names(ours["binding"])
    for _ in range(10):
        shell.press(keys)
        with contextlib.suppress(AssertionError):
            wait_for("the panel from the shortcut", lambda: shell.panels(running.pid), 3)
            break
    check_panel(focused_panel(shell, running.pid, "the shortcut " + keys), work_area, icon)
    accessibility.type_into_field(shell.type, "9", "focused, with 9 typed over 7")
    shell.shot("shortcut")
    shell.press("Escape")
    wait_for("the panel to close", lambda: not shell.panels(running.pid))

    # Again: the shortcut is found, not added twice, and Settings opens to change it.
    choose_keyboard_shortcut()
    wait_for("GNOME Settings opened again", lambda: open(settings_log).read().count("keyboard") == 2)
    check(custom_shortcuts(desktop) == added, "a second use changed GNOME's shortcuts: %r"
          % custom_shortcuts(desktop))


def main(zorvant, screenshots):
    desktop = Desktop("gnome_wayland_session.sh", os.path.abspath(zorvant), screenshots)
    return desktop.run_test(road)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
