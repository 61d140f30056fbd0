#!/usr/bin/python3
# "Keyboard Shortcut…" on XFCE, against XFCE's own settings store: xfconfd, started by D-Bus
# activation on the test's session bus (run under dbus-run-session) and kept in the test's own
# folders. On Xvfb with the trayer tray host; the entry is chosen from the tray icon's menu with
# the keyboard, and the panel is read back through AT-SPI.
#
# The user has a shortcut on the first key Zorvant would offer: Zorvant takes the next free one,
# leaves the user's as they were, and finds its own the second time rather than adding another.
# XFCE's keyboard settings open when they are installed, and the panel says so when they are
# not: both are checked, whichever this machine has.
#
# usage: zorvant_xfce_shortcut_e2e.py ZORVANT SCREENSHOT_FOLDER
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import (HERE, PANEL, Announcements, Session, accessible_tree,  # noqa: E402
                         check, run_road, wait_for)

PORTAL = "org.freedesktop.portal.Desktop"
CHANNEL = "xfce4-keyboard-shortcuts"
CUSTOM = "/commands/custom/"
# What the user set up before: a command on the first key Zorvant offers, the custom set in
# force, and a launcher with the startup-notify property XFCE's settings give it.
USERS = {CUSTOM + "<Primary><Alt>d": "mousepad", CUSTOM + "override": "true",
         CUSTOM + "<Alt>F2": "xfce4-appfinder --collapsed",
         CUSTOM + "<Alt>F2/startup-notify": "true"}
TYPES = {"true": "bool"}
OURS = CUSTOM + "<Primary><Super>d"
ENTRY = "Keyboard Shortcut…"
WHERE = "Change it in Settings → Keyboard → Application Shortcuts."
ADDED = "Ctrl+Super+D now opens Zorvant. " + WHERE
FOUND = "Ctrl+Super+D already opens Zorvant. " + WHERE
NOT_OPENED = " (The keyboard settings could not be opened.)"
# The window of xfce4-keyboard-settings.
SETTINGS = "^Keyboard$"


class Xfconf:
    # xfconf-query on the test's session bus, where xfconfd keeps the user's settings in the
    # test's folders. The system's defaults it reads from /etc/xdg whatever XDG_CONFIG_DIRS
    # says; XFCE's put nothing on the keys this test expects, so they may be there or not.
    def __init__(self, session):
        self.env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"])
        config = session.work + "/cfg"
        # A channel of the test's own, there before xfconfd starts: reading it back shows that
        # xfconfd uses these folders and not the real user's.
        channels = config + "/xfce4/xfconf/xfce-perchannel-xml"
        os.makedirs(channels)
        with open(channels + "/zorvant-e2e.xml", "w") as channel:
            channel.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                          '<channel name="zorvant-e2e" version="1.0">\n'
                          '  <property name="work" type="string" value="%s"/>\n'
                          '</channel>\n' % session.work)
        subprocess.run(["dbus-update-activation-environment", "XDG_CONFIG_HOME=" + config,
                        "HOME=" + session.env["HOME"]],
                       check=True, stdin=subprocess.DEVNULL, timeout=30, env=self.env)
        work = self.query("-c", "zorvant-e2e", "-p", "/work").stdout.strip()
        check(work == session.work, "xfconfd reads another configuration: /work is %r" % work)

    def query(self, *arguments):
        result = subprocess.run(["xfconf-query", *arguments], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=30)
        check(result.returncode == 0, "xfconf-query %s: %s" % (" ".join(arguments),
                                                                result.stderr.strip()))
        return result

    def set(self, name, value):
        self.query("-c", CHANNEL, "-p", name, "-n", "-t", TYPES.get(value, "string"), "-s", value)

    def shortcuts(self):
        # Every binding of the channel and its value, as `xfconf-query -l -v` lists them: the
        # name, spaces, the value (which may hold spaces itself). Not /providers, which XFCE's
        # keyboard settings write there when they open.
        listed = {}
        for line in self.query("-c", CHANNEL, "-l", "-v").stdout.splitlines():
            name, _, value = line.partition(" ")
            if name != "/providers":
                listed[name] = value.strip()
        return listed


def changes(before, after):
    # What differs between two listings, as {name: (before, after)}.
    return {name: (before.get(name), after.get(name)) for name in before.keys() | after.keys()
            if before.get(name) != after.get(name)}


def choose_entry(session, icon, heard):
    # The icon's menu, by a right click; then Down until the entry has the keyboard, and
    # Return, as a user does it. Which item has it is what a screen reader is told: Qt leaves
    # its menus out of the accessibility tree, and tells of each item as it is selected.
    mark = len(heard.heard.lines)

    def selected():
        # The menu items a screen reader was told of, in turn, since the menu opened.
        return [parts[2] for parts in (line.rstrip("\n").split("|")
                                       for line in heard.heard.since(mark))
                if parts[0].startswith("focus:") and parts[1] == "menu item"]

    # The menu that a right click brings up sometimes hides again at once, with the button
    # still down, in the sanitizer build most often: a fault of the program's or of Qt's not
    # yet understood. A second click is what a person does then; a third is not given.
    x, y, width, height = session.geometry(icon)
    menu = None
    for attempt in range(2):
        clicked = len(heard.heard.lines)

        def shown_or_gone():
            # The menu's window; or "gone" once a screen reader was told it hid again.
            return next((window for window in session.xdotool(
                "search", "--onlyvisible", "--class", "zorvant").split() if window != icon),
                None) or ("gone" if any(line.startswith(
                    "object:state-changed:showing|popup menu||0")
                    for line in heard.heard.since(clicked)) else None)

        session.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "mousedown", "3")
        try:
            menu = wait_for("the icon's menu", shown_or_gone)
        finally:
            session.xdotool("mouseup", "3")
        if menu != "gone":
            break
        print("the menu hid at once on right click %d; a screen reader heard %r"
              % (attempt + 1, heard.heard.since(clicked)))
        menu = None
    check(menu, "no menu on two right clicks on the icon")
    check(session.on_screen(menu), "the menu %r is off screen" % (session.geometry(menu),))
    # The menu takes the keyboard once its window is mapped, a moment after it shows: a Down
    # pressed before then goes elsewhere, and is pressed again.
    for _ in range(6):
        told = selected()
        if told[-1:] == [ENTRY]:
            break
        session.press("Down")
        with contextlib.suppress(AssertionError):
            wait_for("Down to select an item", lambda: len(selected()) > len(told), 3)
    check(selected() == ["Show Dockets", ENTRY],
          "Down selected %r in the menu, not Show Dockets then %r" % (selected(), ENTRY))
    session.shot("menu")
    session.press("Return")
    wait_for("the menu to close", lambda: menu not in session.xdotool(
        "search", "--onlyvisible", "--class", "zorvant").split())


def note(tree):
    # The panel's line about the shortcut (a notification to AT-SPI), if it shows.
    return next((name for role, name in tree() if role == "notification"), None)


def show_panel(session, icon):
    if not session.window(PANEL):
        session.click(icon)
    return wait_for("the panel", lambda: session.window(PANEL, True))


def xfce_shortcut(session, xfconf, tree):
    for name, value in USERS.items():
        xfconf.set(name, value)
    before = xfconf.shortcuts()
    check(all(before.get(name) == value for name, value in USERS.items()),
          "the user's shortcuts did not stay: %r" % before)
    # XFCE's keyboard settings, which Zorvant starts where its PATH finds them.
    settings_installed = shutil.which("xfce4-keyboard-settings",
                                      path=session.zorvant_env["PATH"]) is not None
    print("xfce4-keyboard-settings is %sinstalled" % ("" if settings_installed else "not "))

    heard = Announcements(session)
    icon = session.launch_to_panel()
    session.press("Escape")
    wait_for("the panel to close on Escape", lambda: not session.window(PANEL))

    choose_entry(session, icon, heard)
    wait_for("%s = zorvant in %r" % (OURS, xfconf.shortcuts()),
             lambda: xfconf.shortcuts().get(OURS) == "zorvant")
    after = xfconf.shortcuts()
    check(changes(before, after) == {OURS: (None, "zorvant")},
          "the channel changed otherwise: %r" % changes(before, after))
    check([name for name, value in after.items() if value == "zorvant"] == [OURS],
          "more than one shortcut runs zorvant: %r" % after)

    if settings_installed:
        # XFCE's keyboard settings show the new shortcut; the panel keeps the line for its next
        # showing.
        window = wait_for("XFCE's keyboard settings", lambda: session.window(SETTINGS), 60)
        check(session.on_screen(window), "the keyboard settings %r are off screen"
              % (session.geometry(window),))
        session.shot("keyboard-settings")
        check(not session.window(PANEL), "the panel came up over the keyboard settings")
        show_panel(session, icon)
        expected = ADDED
    else:
        # Nothing else to show it: the panel comes up with the line.
        wait_for("the panel with the line", lambda: session.window(PANEL))
        expected = ADDED + NOT_OPENED
    wait_for("the panel to say %r, not %r" % (expected, note(tree)),
             lambda: note(tree) == expected)
    session.shot("added")

    # A second time: Zorvant finds its shortcut and adds nothing.
    session.press("Escape")
    wait_for("the panel to close on Escape", lambda: not session.window(PANEL))
    choose_entry(session, icon, heard)
    expected = FOUND if settings_installed else FOUND + NOT_OPENED
    if settings_installed:
        # Whether a second window opens or the first one comes forward is up to XFCE.
        wait_for("XFCE's keyboard settings", lambda: session.window(SETTINGS), 60)
        show_panel(session, icon)
    wait_for("the panel to say %r, not %r" % (expected, note(tree)),
             lambda: session.window(PANEL) and note(tree) == expected)
    session.shot("found")
    check(xfconf.shortcuts() == after,
          "the second time changed the channel: %r" % changes(after, xfconf.shortcuts()))
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, screenshots):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-xfce-e2e-")
    zorvant = os.path.abspath(zorvant)
    # On XFCE Qt loads the GTK platform theme: what Session sets up for it.
    session = Session(work, zorvant, screenshots, True, gtk=True)
    # Installed, `zorvant` on the PATH is the program itself: the shortcut runs it by that name.
    session.zorvant_env.update(XDG_CURRENT_DESKTOP="XFCE", PATH=os.path.dirname(zorvant) + ":" +
                               session.zorvant_env["PATH"])

    def run():
        xfconf = Xfconf(session)
        # XFCE's desktop portal, whose backend has no global shortcuts: a stand-in, in place
        # of whichever portal this machine would start on the bus.
        session.spawn(["/usr/bin/python3", os.path.join(HERE, "..", "support",
                                                        "global_shortcuts_portal.py"),
                       "--without-global-shortcuts"], "portal.log", env=xfconf.env)
        bus = dbus.SessionBus()
        wait_for("the stand-in portal", lambda: bus.name_has_owner(PORTAL))
        session.start_desktop()
        xfce_shortcut(session, xfconf, accessible_tree())

    return run_road(session, run, failure_shot=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
