#!/usr/bin/python3
# Zorvant's tray icon on an X server whose tray speaks StatusNotifierItem: the desktop of
# desktop-sni-x11.sh (Xvfb and a session bus of its own), with the test watcher
# (../support/status_notifier_watcher.py) started, stopped and started again by the test, which
# clicks the item as a tray host does.
#
# "sni": the tray comes after the program, and restarts; Activate with a position, and the
#   menu's first entry, show the panel by that position; without a tray a second launch shows it.
# "switching": XFCE's panel offers both protocols; trayer stands in for its XEmbed side. The
#   icon is in exactly one tray at a time, the StatusNotifierItem one when there is one.
#
# usage: tray_x11_e2e.py ZORVANT SCREENSHOT_FOLDER sni|switching
import os
import signal
import sys
import tempfile
import time

import dbus

from zorvant_e2e import (HERE, PANEL, Session, check, desktop_environment, run_road,
                         wait_for)

WATCHER_SCRIPT = os.path.join(HERE, "..", "support", "status_notifier_watcher.py")

WATCHER, ITEM, MENU = "org.kde.StatusNotifierWatcher", "org.kde.StatusNotifierItem", "com.canonical.dbusmenu"
SCREEN = (1280, 800)
# A tray that comes is used within this many seconds.
PROMPTLY = 5.0


class TrayDesktop:
    def __init__(self, session):
        self.session, self.watcher, self.trayer = session, None, None
        session.spawn([os.path.join(HERE, "desktop-sni-x11.sh"), "--no-watcher"], "desktop.log")
        exported = wait_for("the desktop", lambda: (lambda values: len(values) == 2 and values)(
            desktop_environment(session.read("desktop.log"))))
        session.env["DISPLAY"] = session.zorvant_env["DISPLAY"] = exported["DISPLAY"]
        self.address = session.zorvant_env["DBUS_SESSION_BUS_ADDRESS"] = \
            exported["DBUS_SESSION_BUS_ADDRESS"]
        self.bus = dbus.bus.BusConnection(self.address)

    def start_watcher(self):
        self.watcher = self.session.spawn(
            ["/usr/bin/python3", WATCHER_SCRIPT], "watcher.log",
            env=dict(self.session.env, DBUS_SESSION_BUS_ADDRESS=self.address))
        wait_for("the watcher", lambda: self.bus.name_has_owner(WATCHER))
        return time.monotonic()

    def stop_watcher(self):
        self.session.stop(self.watcher)
        wait_for("the watcher to go", lambda: not self.bus.name_has_owner(WATCHER))

    def start_trayer(self):
        self.trayer = self.session.spawn(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "28", "--transparent", "false", "--tint", "0x333333"], "trayer.log")
        return time.monotonic()

    def items(self):
        watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher")
        return list(watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                dbus_interface=dbus.PROPERTIES_IFACE))

    def registered_item(self, since):
        # The one item registered, within a few seconds of the watcher's coming. A second
        # item would be Qt's own tray icon.
        items = wait_for("the item to register", self.items, 30)
        check(time.monotonic() - since < PROMPTLY,
              "the item registered %.1f s after the tray came" % (time.monotonic() - since))
        check(len(items) == 1, "more than one item registered: %r" % items)
        named = [n for n in self.bus.list_names() if n.startswith("org.kde.StatusNotifierItem")]
        check(named == items, "item names on the bus %r, registered %r" % (named, items))
        return self.bus.get_object(items[0], "/StatusNotifierItem")

    def xembed_icon(self):
        return self.session.xdotool("search", "--onlyvisible", "--class", "zorvant").split()


class Activations:
    # Activate as Plasma's and XFCE's trays send it: once for a click, twice for a double click.
    last = -1e9

    @classmethod
    def click(cls, item, x, y):
        # A click meant on its own: after the last one's double-click time has passed.
        pause = cls.last + Session.DOUBLE_CLICK + 0.1 - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        item.Activate(x, y, dbus_interface=ITEM)
        cls.last = time.monotonic()

    @classmethod
    def double_click(cls, item, x, y):
        cls.click(item, x, y)
        time.sleep(0.08)
        item.Activate(x, y, dbus_interface=ITEM)
        cls.last = time.monotonic()


activate, double_click = Activations.click, Activations.double_click


def finish(session):
    # SIGTERM ends the program cleanly, and Qt's own tray icon never spoke up.
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")
    output = session.read(session.running[1])
    check(b"QDBusTrayIcon" not in output and b"StatusNotifierItem" not in output,
          "Qt's own tray icon spoke up:\n" + output.decode(errors="replace"))


def check_panel_by(session, x, y):
    # The panel lies by the point: horizontally across it, below a point in the upper half of
    # the screen and above one in the lower half, and wholly on the screen.
    panel = wait_for("the focused panel by (%d, %d)" % (x, y), lambda: session.window(PANEL, True))
    px, py, width, height = session.geometry(panel)
    vertical = py > y if y < SCREEN[1] // 2 else py + height < y
    check((width, height) == (420, 420) and px <= x <= px + width and vertical and px >= 0
          and py >= 0 and px + width <= SCREEN[0] and py + height <= SCREEN[1],
          "panel %r is not by (%d, %d) on the screen" % ((px, py, width, height), x, y))
    return panel


def hide_panel(session):
    session.press("Escape")
    wait_for("the panel to hide", lambda: not session.window(PANEL))


def sni_road(session, desktop):
    session.running = session.launch("--background")
    log = session.running[1]
    wait_for("the no-tray line", lambda: b"no system tray" in session.read(log))

    # Without a tray, a second launch is the way in: the panel, centred.
    check(session.finish(session.launch()) == 0, "the second launch did not exit 0")
    panel = wait_for("the panel on a second launch", lambda: session.window(PANEL, True))
    px, py, width, height = session.geometry(panel)
    check((px, py) == ((SCREEN[0] - width) // 2, (SCREEN[1] - height) // 2),
          "the panel is not centred: %r" % ((px, py),))
    session.shot("no-tray-second-launch")
    hide_panel(session)

    # The tray comes after the program, as at login.
    item = desktop.registered_item(desktop.start_watcher())
    properties = item.GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE)
    check(properties["Title"] == "Dockets" and properties["ToolTip"][2] == "Dockets"
          and not properties["ItemIsMenu"] and properties["Menu"] == "/MenuBar",
          "item properties %r" % {k: v for k, v in properties.items() if "Pixmap" not in k})

    # A click near the top right, as on a top panel; the next click hides the panel.
    activate(item, 1000, 12)
    check_panel_by(session, 1000, 12)
    session.shot("activate-top-right")
    activate(item, 1000, 12)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    # Near the bottom right corner, as on a bottom panel: above the point, inside the screen.
    activate(item, 1270, 790)
    check_panel_by(session, 1270, 790)
    # The keyboard is in the number field: the screenshot shows the digits there.
    session.xdotool("type", "--delay", "40", "42")
    session.shot("activate-bottom-right")
    activate(item, 1270, 790)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))

    # A double click shows the panel and leaves it open: the second Activate is no click of its
    # own. One more click, after the double-click time, hides it.
    double_click(item, 1270, 790)
    panel = check_panel_by(session, 1270, 790)
    # Past the double-click time nothing more can come of the gesture.
    time.sleep(Session.DOUBLE_CLICK + 0.1)
    check(session.window(PANEL, True) == panel, "the double click closed the panel again")
    session.shot("double-click")
    activate(item, 1270, 790)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))

    # The menu's first entry shows the panel, by the icon's last known place; the second sets
    # up a keyboard shortcut.
    menu = dbus.Interface(desktop.bus.get_object(item.bus_name, "/MenuBar"), MENU)
    _, (_, _, entries) = menu.GetLayout(0, -1, [])
    first, labels = entries[0][0], [entry[1].get("label") for entry in entries]
    check(labels == ["Show Dockets", "Keyboard Shortcut…"], "menu entries %r" % labels)
    menu.Event(first, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
    check_panel_by(session, 1270, 790)
    session.shot("menu-entry")
    hide_panel(session)

    # The panel restarts: the item registers again and clicks work as before.
    desktop.stop_watcher()
    item = desktop.registered_item(desktop.start_watcher())
    activate(item, 640, 5)
    check_panel_by(session, 640, 5)
    session.shot("after-restart")
    finish(session)


def switching_road(session, desktop):
    def expect_xembed_icon(since):
        icon = wait_for("the XEmbed icon", lambda: desktop.xembed_icon(), 30)
        check(time.monotonic() - since < PROMPTLY,
              "the XEmbed icon came %.1f s after the tray" % (time.monotonic() - since))
        x, y, width, height = session.geometry(icon[0])
        check(len(icon) == 1 and width <= 64 and height <= 64 and y < 28,
              "the XEmbed icon is not one small icon in the tray: %r" % icon)
        return icon[0]

    def expect_only_the_item(since):
        desktop.registered_item(since)
        wait_for("the XEmbed icon to go", lambda: not desktop.xembed_icon())

    # XFCE at login: both trays are there before the program.
    desktop.start_trayer()
    since = desktop.start_watcher()
    session.running = session.launch("--background")
    expect_only_the_item(since)
    session.shot("both-trays")
    check(not desktop.xembed_icon(), "an XEmbed icon beside the item")

    # The StatusNotifierItem tray goes: the icon moves to the XEmbed tray, and works there.
    desktop.stop_watcher()
    icon = expect_xembed_icon(time.monotonic())
    session.click(icon)
    panel = wait_for("the focused panel after a click", lambda: session.window(PANEL, True))
    px, py, width, height = session.geometry(panel)
    x, y, icon_width, icon_height = session.geometry(icon)
    check(py >= y + icon_height and px <= x + icon_width // 2 <= px + width,
          "panel %r is not below the icon at %r" % ((px, py), (x, y)))
    session.shot("xembed-fallback")
    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))

    # It comes back: the icon leaves the XEmbed tray for it.
    expect_only_the_item(desktop.start_watcher())

    # Neither tray, then an XEmbed tray only, started late.
    desktop.stop_watcher()
    session.stop(desktop.trayer)
    wait_for("no icon anywhere", lambda: not desktop.xembed_icon())
    expect_xembed_icon(desktop.start_trayer())
    session.shot("late-xembed-tray")
    finish(session)


def main(zorvant, screenshots, mode):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-tray-e2e-")
    session = Session(work, os.path.abspath(zorvant), screenshots, False)
    return run_road(session, lambda: {"sni": sni_road, "switching": switching_road}[mode](
        session, TrayDesktop(session)))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
