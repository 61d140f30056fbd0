#!/usr/bin/python3
# Zorvant on a real X server: Xvfb, the trayer tray host and the real binary, driven by
# xdotool. Folders go to a stand-in xdg-open that records its arguments. With "accessibility"
# (run under dbus-run-session) the panel is also read back through AT-SPI on the same road,
# and what a screen reader would be told is recorded.
#
# usage: zorvant_e2e.py ZORVANT SCREENSHOT_FOLDER [accessibility] [look] [scale=2|dpi=192]
#                       [dark] [gtk]
#   look       the look of the panel rather than the main road: ten long recent names, the
#              folder chooser, focus on every control, all reachable
#   scale=2    Qt's QT_SCALE_FACTOR; dpi=192 the X resource Xft.dpi, as a HiDPI desktop sets it
#   dark       a dark colour scheme, through the qt6ct platform theme
#   gtk        the GTK folder chooser of GNOME and XFCE, through the gtk3 platform theme
import contextlib
import ctypes
import json
import os
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

SANITIZER_REPORTS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                     b"SUMMARY: UndefinedBehaviorSanitizer")
PANEL, CHOOSER = "^Dockets$", "^Select Root 'dockets' Folder$"
CONFLICT = "Found both Legacy and J dockets. Which one would you like to open?"
PANEL_SIZE = 420
STAND_IN = "#!/bin/sh\nprintf '%s\\0' \"$@\" >> \"$(dirname \"$0\")/../opened\"\n"
# Ten recent dockets whose names are too long for the panel, one with '&' in it.
LONG_NAMES = ["J%06d Client number %d with a rather long matter name for testing" % (n, n)
              for n in range(1, 11)]
LONG_NAMES[2] = "J000003 Smith & Jones with a rather long matter name for testing"
# The events a screen reader acts on, one line each: type, role, name, detail.
LISTENER = """
import pyatspi, sys
def heard(event):
    source = event.source
    print("%s|%s|%s|%d" % (event.type, source.getRoleName(), source.name, event.detail1),
          flush=True)
pyatspi.Registry.registerEventListener(heard, "window:activate", "focus:",
                                       "object:state-changed:showing",
                                       "object:property-change:accessible-name")
print("listening", flush=True)
pyatspi.Registry.start()
"""
libc = ctypes.CDLL("libc.so.6")
HERE = os.path.dirname(os.path.abspath(__file__))


def spawn_group(argv, log_path, env, **options):
    # A process in a group of its own, so that stopping it also stops what it spawned, which
    # dies with this script should the script be killed; its output goes to the end of log_path.
    with open(log_path, "ab") as output:
        return subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                stdout=options.pop("stdout", output), stderr=output,
                                start_new_session=True,
                                preexec_fn=lambda: libc.prctl(1, signal.SIGKILL), **options)


def stop_group(process, sig=signal.SIGTERM):
    # The signal to the process's group, then SIGKILL to whatever is left; the exit status.
    if process.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, sig)
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(30)
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGKILL)
    return process.wait(10)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def wait_for(what, condition, timeout=30.0):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        check(time.monotonic() < deadline, "timed out waiting for " + what)
        time.sleep(0.05)
    return value


def holds_for(what, condition, seconds):
    # Polls condition() for as long as something it rules out could still come.
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        check(condition(), what)
        time.sleep(0.05)


# A plain launch shows its panel within this many seconds of the program's finding where its
# icon goes (its icon showing, or its no-tray line), as the tests of a plain launch hold it to:
# a launch that would show one has done so by then.
SHOWN_WITHIN = 4.0


def desktop_environment(log):
    # What a desktop script under tests/e2e/ printed for programs to join it: its export lines.
    return dict(shlex.split(line)[1].split("=", 1) for line in log.decode().splitlines()
                if line.startswith("export "))


class Lines:
    # The lines a process writes, read as they come.
    def __init__(self, process):
        self.lines = []
        threading.Thread(target=lambda: self.lines.extend(process.stdout), daemon=True).start()

    def since(self, mark):
        return self.lines[mark:]


# The processes of one run, the X server they share and the program under test. Each process
# runs in a group of its own, so that stopping it also stops what it spawned, and dies with
# this script (PR_SET_PDEATHSIG) should the script be killed outright.
class Session:
    def __init__(self, work, zorvant, screenshots, accessibility, scale=None, dpi=None,
                 dark=False, gtk=False):
        self.work, self.zorvant, self.screenshots, self.processes = work, zorvant, screenshots, []
        self.scale, self.dpi = scale, dpi
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("DISPLAY", "WAYLAND", "QT_", "DBUS_", "XDG_", "GDK_",
                                         "GTK_"))}
        self.env["HOME"], self.root = work + "/home", work + "/dockets"
        for folder in ("home", "bin", "cfg", "dockets/a-123/12345 Smith v Jones",
                       "dockets/a-1/123 Old", "dockets/a-J0001/J000123 New",
                       "dockets/a-J0000/J000007 Seven"):
            os.makedirs(work + "/" + folder)
        # Linux names are bytes: this one is Latin-1, not UTF-8, with a line feed.
        os.makedirs(os.fsencode(self.root) + b"/a-555/55555 caf\xe9\nJ")
        os.mkdir(work + "/run", 0o700)
        with open(work + "/bin/xdg-open", "w") as script:
            script.write(STAND_IN)
        os.chmod(script.name, 0o755)
        shutil.rmtree(screenshots, ignore_errors=True)
        os.makedirs(screenshots)
        # The accessibility test has a session bus of its own, on which the accessibility bus
        # starts on demand; the other has none.
        self.zorvant_env = dict(self.env, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=work + "/cfg",
                                XDG_RUNTIME_DIR=work + "/run", DBUS_SESSION_BUS_ADDRESS="disabled:",
                                PATH=work + "/bin:" + os.environ["PATH"])
        if accessibility:
            self.zorvant_env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                                    DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"])
            # The accessibility bus puts its socket in the runtime folder, else in the home's
            # cache, which runs side by side would share: one of its own for this run.
            runtime = work + "/a11y"
            os.mkdir(runtime, 0o700)
            subprocess.run(["dbus-update-activation-environment", "XDG_RUNTIME_DIR=" + runtime],
                           check=True, stdin=subprocess.DEVNULL, timeout=30)
            os.environ["XDG_RUNTIME_DIR"] = runtime
        if scale:
            self.zorvant_env["QT_SCALE_FACTOR"] = str(scale)
        if dark:
            # A user's dark colour scheme, as qt6ct sets one up for Qt programs on any desktop.
            os.makedirs(work + "/cfg/qt6ct")
            with open(work + "/cfg/qt6ct/qt6ct.conf", "w") as config:
                config.write("[Appearance]\ncustom_palette=true\nstyle=Fusion\n"
                             "color_scheme_path=/usr/share/qt6ct/colors/darker.conf\n")
            self.zorvant_env["QT_QPA_PLATFORMTHEME"] = "qt6ct"
        if gtk:
            # As on GNOME and XFCE; GTK keeps its settings in memory rather than in dconf.
            self.zorvant_env.update(QT_QPA_PLATFORMTHEME="gtk3", GSETTINGS_BACKEND="memory",
                                    GDK_BACKEND="x11",
                                    LSAN_OPTIONS="suppressions=" + HERE + "/gtk_leaks.supp")

    def read(self, name):
        with open(os.path.join(self.work, name), "rb") as file:
            return file.read()

    def spawn(self, argv, log, env=None, **options):
        process = spawn_group(argv, os.path.join(self.work, log), env or self.env, **options)
        self.processes.append(process)
        return process

    def stop(self, process, sig=signal.SIGTERM):
        return stop_group(process, sig)

    def start_desktop(self):
        # Xvfb and the trayer tray host, started by the script a developer starts by hand.
        self.spawn([os.path.join(HERE, "desktop-xembed.sh")], "desktop.log")
        self.env["DISPLAY"] = self.zorvant_env["DISPLAY"] = wait_for(
            "the desktop", lambda: desktop_environment(self.read("desktop.log")).get("DISPLAY"))
        if self.dpi:
            # What xrdb -merge puts there from ~/.Xresources on a HiDPI desktop. The X server
            # forgets it when its last client leaves: the tray host keeps one there.
            wait_for("the tray host", lambda: self.xdotool("search", "--name", "^panel$"))
            self.run("xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set",
                     "RESOURCE_MANAGER", "Xft.dpi:\t%d\n" % self.dpi)
            check(b"Xft.dpi" in self.run("xprop", "-root", "RESOURCE_MANAGER"),
                  "Xft.dpi did not stay on the root window")

    def run(self, *argv):
        return subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30).stdout

    def xdotool(self, *argv):
        return self.run("xdotool", *argv).decode().strip()

    def shot(self, name):
        # Taken once two captures in a row agree: painting has finished.
        captures = [None]
        wait_for("the screen to settle", lambda: captures.append(self.run(
            "import", "-window", "root", "-depth", "8", "rgb:-")) or captures[-1] == captures[-2])
        self.run("import", "-window", "root", os.path.join(
            self.screenshots, "%02d-%s.png" % (len(os.listdir(self.screenshots)) + 1, name)))

    def window(self, name, focused=False):
        found = self.xdotool("search", "--onlyvisible", "--name", name).split()[:1]
        return next((w for w in found if not focused or self.xdotool("getwindowfocus") == w), None)

    def windows(self, name):
        return self.xdotool("search", "--onlyvisible", "--name", name).split()

    def geometry(self, window):
        values = dict(line.split("=") for line in
                      self.xdotool("getwindowgeometry", "--shell", window).splitlines())
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def screen_size(self):
        return tuple(map(int, self.xdotool("getdisplaygeometry").split()))

    def on_screen(self, window):
        x, y, width, height = self.geometry(window)
        screen_width, screen_height = self.screen_size()
        return x >= 0 and y >= 0 and x + width <= screen_width and y + height <= screen_height

    # Qt's double-click time (the X server's times decide): two clicks closer than this are one
    # double click, which leaves the panel open.
    DOUBLE_CLICK = 0.4

    def click(self, window):
        # A click meant on its own: after the last one's double-click time has passed.
        pause = getattr(self, "last_click", -1e9) + self.DOUBLE_CLICK + 0.1 - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        x, y, width, height = self.geometry(window)
        self.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "click", "1")
        self.last_click = time.monotonic()

    def choose_root(self):
        # Through the panel's chooser, as a user does it: the button, the root typed, Return;
        # until the panel is back.
        self.press("shift+Tab", "space")
        wait_for("the folder chooser", lambda: self.window(CHOOSER, True))
        self.enter(self.root)
        wait_for("the panel back after the chooser",
                 lambda: not self.window(CHOOSER) and self.window(PANEL, True))

    def press(self, *keys):
        self.xdotool("key", "--delay", "40", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "40", text)

    def enter(self, text):
        # Replaces the focused field's text by typing, then presses Return.
        self.press("ctrl+a")
        self.type(text)
        self.press("Return")

    def listen_keys(self, window):
        # Another client may listen to the keys a window is sent: xev, whose lines tell.
        return Lines(self.spawn(["stdbuf", "-oL", "xev", "-id", window, "-event", "keyboard"], "xev.log",
                                stdout=subprocess.PIPE, text=True))

    def hold(self, key, keys, repeats=5):
        # Holds the key down until the window has been sent this many repeats of it, then lets
        # it go. The listener must have heard keys before, so that it is known to listen.
        check(any("KeyPress" in line for line in keys.lines), "the key listener heard nothing")
        mark = len(keys.lines)
        self.xdotool("keydown", key)
        try:
            wait_for("%d repeats of %s" % (repeats, key), lambda: sum(
                "KeyPress" in line for line in keys.since(mark)) > repeats)
        finally:
            self.xdotool("keyup", key)

    def launch(self, *arguments):
        log = "zorvant-%d.log" % len(self.processes)
        return self.spawn([self.zorvant, *arguments], log, env=self.zorvant_env), log

    def finish(self, launched=None, sig=signal.SIGTERM):
        # The exit status of a second launch, or of the running instance once stopped by the
        # signal. A sanitizer report in its output fails the test.
        process, log = launched or self.running
        status = process.wait(60) if launched else self.stop(process, sig)
        check(not any(report in self.read(log) for report in SANITIZER_REPORTS),
              "sanitizer report from zorvant:\n" + self.read(log).decode(errors="replace"))
        return status

    def opened(self):
        with contextlib.suppress(FileNotFoundError):
            return self.read("opened").split(b"\0")[:-1]
        return []

    def expect_opened(self, expected):
        # The stand-in received exactly these arguments, and the opener left no child behind.
        wait_for("the stand-in to receive %r" % expected[-1],
                 lambda: len(self.opened()) >= len(expected))
        check(self.opened() == expected, "opened %r, expected %r" % (self.opened(), expected))
        # The stand-in may still be on its way out: bounded, the opener reaps it.
        tasks = "/proc/%d/task/" % self.running[0].pid
        children = lambda: "".join(open(tasks + task + "/children").read()
                                   for task in os.listdir(tasks)).split()
        wait_for("zorvant to reap its opener, not leave %r" % children(), lambda: not children(),
                 10)

    def settings(self):
        with contextlib.suppress(FileNotFoundError):
            return self.read("cfg/Zorvant/Zorvant.ini").decode(errors="replace")
        return ""

    def setting(self, key):
        # The line of the settings file that holds the key, as Zorvant wrote it.
        return next((line for line in self.settings().splitlines()
                     if line.startswith(key + "=")), "")

    def seed_recents(self, names):
        # The settings file as Zorvant writes it, holding these recent J dockets, newest first.
        dockets = [{"kind": "j", "docketKey": str(int(name[1:7])), "displayName": name,
                    "lastOpened": 700000000.0 - i} for i, name in enumerate(names)]
        blob = json.dumps(dockets, separators=(",", ":"))
        os.makedirs(self.work + "/cfg/Zorvant", exist_ok=True)
        with open(self.work + "/cfg/Zorvant/Zorvant.ini", "w") as ini:
            ini.write('[General]\nrecentDockets="@ByteArray(%s)"\n' % blob.replace('"', '\\"'))

    def panel_fits(self, panel, icon):
        # At 1x the panel is 420 x 420; on a smaller or magnified screen it is no larger than
        # the screen, and no taller than the room below the icon.
        px, py, pwidth, pheight = self.geometry(panel)
        x, y, width, height = self.geometry(icon)
        screen_width, screen_height = self.screen_size()
        ratio = float(self.scale or 1) * (self.dpi or 96) / 96
        full = round(PANEL_SIZE * ratio)
        return (pwidth == min(full, screen_width) and pheight <= full and px >= 0
                and px + pwidth <= screen_width and py >= y + height
                and py + pheight <= screen_height
                and (pheight == full or py + pheight >= screen_height - round(8 * ratio)))

    def expect_below_new_icon(self, panel, icon, what):
        # A launch shows its panel once the tray has put the new icon in a place, and the tray
        # may still size or move it then: the panel keeps to it, within moments.
        deadline = time.monotonic() + 5
        while not self.panel_fits(panel, icon):
            check(time.monotonic() < deadline, "%s: the panel %r is not below the icon %r"
                  % (what, self.geometry(panel), self.geometry(icon)))
            time.sleep(0.05)

    def launch_to_panel(self):
        # Launch as at login: the tray icon and no window. A click: the panel, wholly on
        # screen and below the icon, with the keyboard.
        self.running = self.launch("--background")
        # A window being embedded in the tray can be listed twice: the same one all the same.
        windows = wait_for("the tray icon", lambda: set(
            self.xdotool("search", "--onlyvisible", "--class", "zorvant").split()), 90)
        icon = min(windows)
        x, y, width, height = self.geometry(icon)
        check(len(windows) == 1 and width <= 64 and height <= 64,
              "more than the tray icon is visible at launch: %s, %dx%d" % (windows, width, height))
        holds_for("no window but the icon at launch", lambda: not self.window(PANEL), SHOWN_WITHIN)
        self.shot("launch")
        self.click(icon)
        panel = wait_for("the focused panel after a click", lambda: self.window(PANEL, True))
        check(self.panel_fits(panel, icon),
              "panel %r does not fit below the icon %r on the %dx%d screen"
              % ((self.geometry(panel)), self.geometry(icon), *self.screen_size()))
        self.shot("panel")
        return icon


# --- Through AT-SPI: what assistive technology reads and hears --------------------------------

def alive(read, default=None):
    # What an accessible object says, or the default when it went away in the meantime (the
    # tree changes under a reader: a dialog closes, rows are rebuilt).
    from gi.repository import GLib
    try:
        return read()
    except GLib.GError:
        return default


def roles(item):
    # Its role and name.
    return alive(lambda: (item.getRoleName(), item.name), (None, None))


def walk(node, showing_only=True):
    import pyatspi
    for index in range(alive(lambda: node.childCount, 0)):
        child = alive(lambda: node.getChildAtIndex(index))
        if child and (not showing_only or alive(
                lambda: child.getState().contains(pyatspi.STATE_SHOWING), False)):
            yield child
            yield from walk(child, showing_only)


def panels():
    # The accessible objects named "Dockets" at the top of the program: the panel.
    import pyatspi
    return [window for app in pyatspi.Registry.getDesktop(0) for window in alive(
                lambda: list(app or []), []) if window and alive(lambda: window.name) == "Dockets"]


def accessible_tree():
    # The (role, name) pairs showing in the panel.
    return lambda: {roles(item) for window in panels() for item in walk(window)}


def focused():
    # The role and name of what has the keyboard in the panel, if anything.
    import pyatspi
    for window in panels():
        for item in walk(window):
            if alive(lambda: item.getState().contains(pyatspi.STATE_FOCUSED), False):
                return roles(item)
    return None


def field_text():
    for window in panels():
        for item in walk(window):
            if roles(item) == ("text", "Enter folder number"):
                return alive(lambda: item.queryText().getText(0, -1))
    return None


def extents(item):
    import pyatspi
    box = item.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


class Announcements:
    # What a screen reader hears from the program: window activation, focus and things that
    # come into view, as "type|role|name|detail" lines.
    def __init__(self, session):
        self.process = session.spawn(["/usr/bin/python3", "-c", LISTENER], "listener.log",
                                     env=dict(session.env, DBUS_SESSION_BUS_ADDRESS=os.environ[
                                         "DBUS_SESSION_BUS_ADDRESS"]),
                                     stdout=subprocess.PIPE, text=True)
        self.heard = Lines(self.process)
        wait_for("the listener", lambda: self.heard.lines)
        self.mark = len(self.heard.lines)

    def expect(self, kind, role, name, detail=None):
        # Waits for the line since the last one expected.
        def match():
            for index, line in enumerate(self.heard.since(self.mark)):
                parts = line.rstrip("\n").split("|")
                if (parts[0].startswith(kind) and parts[1] == role and parts[2] == name
                        and (detail is None or parts[3] == str(detail))):
                    return self.mark + index + 1
            return None
        self.mark = wait_for("%s from the %s %r; heard %r" % (
            kind, role, name, self.heard.since(self.mark)), match, 30)


# --- The roads ---------------------------------------------------------------------------------

def road(session, tree):
    def expect_tree(present, absent=frozenset()):
        if tree:
            wait_for("%r and not %r in the accessibility tree" % (present, absent),
                     lambda: present <= (items := tree()) and not absent & items, 60)

    heard = Announcements(session) if tree else None
    root = os.fsencode(session.root)
    icon = session.launch_to_panel()
    keys = session.listen_keys(session.window(PANEL))
    socket = os.stat(session.work + "/run/zorvant.socket").st_mode
    check(stat.S_ISSOCK(socket) and not socket & 0o077, "socket mode %o" % socket)
    if heard:
        # The panel comes up as a dialog named "Dockets", with the number field focused.
        heard.expect("window:activate", "dialog", "Dockets")
        wait_for("the panel as a dialog", lambda: [roles(window) for window in panels()] == [
            ("dialog", "Dockets")])
        heard.expect("focus:", "text", "Enter folder number")
    session.enter("12345")
    error = ("notification", "Root folder not selected")
    expect_tree({("push button", "Select Root 'dockets' Folder"), ("push button", "Open Folder"),
                 ("text", "Enter folder number"), error})
    if heard:
        heard.expect("object:state-changed:showing", *error, 1)

    # Shift+Tab from the number field reaches the chooser's button.
    session.press("shift+Tab", "space")
    chooser = wait_for("the folder chooser", lambda: session.window(CHOOSER, True))
    check(session.on_screen(chooser), "the chooser %r is off screen" % (session.geometry(chooser),))
    session.shot("chooser")
    session.enter(session.root)
    wait_for("the panel back after the chooser",
             lambda: not session.window(CHOOSER) and session.window(PANEL, True))

    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the focused panel again", lambda: session.window(PANEL, True))

    # A typed folder that does not exist: the chooser refuses it in a box of its own, and
    # nothing in the share changes, nor the root.
    share, settings = share_listing(root), session.settings()
    check(b"dockets" in root and "dockets" in settings, "no root chosen: %r" % settings)
    session.press("shift+Tab", "space")
    chooser = wait_for("the folder chooser again", lambda: session.window(CHOOSER, True))
    session.enter(session.root + "/a-123/12399 Not Here")
    box = wait_for("the chooser's box saying the folder is not there", lambda: next(
        (w for w in session.windows(CHOOSER) if w != chooser), None))
    wait_for("the keyboard in the box", lambda: session.xdotool("getwindowfocus") == box)
    session.shot("chooser-not-found")
    session.press("Return")
    wait_for("the box to close", lambda: session.windows(CHOOSER) == [chooser])
    # The X server gives the keyboard to no window when the box goes; a window manager would
    # give it back to the chooser, and without one the test does.
    session.xdotool("windowfocus", "--sync", chooser)
    session.press("Escape")
    wait_for("the panel back after the chooser",
             lambda: not session.window(CHOOSER) and session.window(PANEL, True))
    check(share_listing(root) == share, "the chooser changed the share")
    check(session.settings() == settings,
          "the root changed:\n%s\nnow\n%s" % (settings, session.settings()))

    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the focused panel again", lambda: session.window(PANEL, True))
    # Typed right after the click, the keys go to the number field. A new message takes the
    # old one's place, and is announced as it does.
    session.enter("99999")
    missing = ("notification", "Folder not found for 99999")
    expect_tree({missing}, {error})
    if heard:
        heard.expect("object:state-changed:showing", *missing, 1)
    session.enter("12345")
    expected = [root + b"/a-123/12345 Smith v Jones"]
    session.expect_opened(expected)
    expect_tree({("push button", "12345 Smith v Jones"), ("push button", "Clear recents")},
                {missing})

    # Typed, closed and opened again: the number is still there, selected, so "7" replaces it.
    session.press("ctrl+a")
    session.type("123")
    session.click(icon)
    wait_for("the panel to hide", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the focused panel again", lambda: session.window(PANEL, True))
    session.type("7")
    if tree:
        wait_for("the field to read 7, not %r" % field_text(), lambda: field_text() == "7")
    session.press("Return")
    expected.append(root + b"/a-J0000/J000007 Seven")
    session.expect_opened(expected)
    # Held down, Return opens once more, not once per repeat: whatever the repeats did would be
    # recorded before the next number's folder.
    session.hold("Return", keys)
    session.enter("12345")
    expected += [expected[-1], expected[0]]
    session.expect_opened(expected)

    session.enter("123")
    if heard:
        # The conflict sheet is announced by its title as the keyboard moves into it.
        heard.expect("object:state-changed:showing", "dialog", CONFLICT, 1)
        heard.expect("focus:", "push button", "Legacy: 123 Old")
    session.shot("conflict")
    # Focus starts on the Legacy choice; Tab moves to J.
    session.press("Tab", "space")
    expected.append(root + b"/a-J0001/J000123 New")
    session.expect_opened(expected)
    session.enter("55555")
    expected.append(root + b"/a-555/55555 caf\xe9\nJ")
    session.expect_opened(expected)
    session.shot("recents")

    session.click(icon)
    wait_for("the panel to hide", lambda: not session.window(PANEL))
    check(session.finish(session.launch()) == 0, "the second launch did not exit 0")
    wait_for("the panel on a second launch", lambda: session.window(PANEL, True))
    session.shot("second-launch")

    # A crash leaves the lock and the socket behind: the next launch takes them over.
    session.finish(sig=signal.SIGKILL)
    session.launch_to_panel()
    # After a restart the newest recent, two Tabs from the number field, opens as before.
    session.press("Tab", "Tab", "space")
    expected.append(expected[-1])
    session.expect_opened(expected)
    session.shot("restarted")
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")

    # Started from the menu: the panel at once, below the icon, with the keyboard.
    session.running = session.launch()
    wait_for("the tray icon", lambda: session.xdotool("search", "--onlyvisible", "--class",
                                                      "zorvant"), 90)
    iconed = time.monotonic()
    panel = wait_for("the focused panel at a plain launch", lambda: session.window(PANEL, True), 90)
    check(time.monotonic() - iconed < SHOWN_WITHIN,
          "the panel came %.1f s after the icon" % (time.monotonic() - iconed))
    icon = next(w for w in session.xdotool("search", "--onlyvisible", "--class", "zorvant").split()
                if session.geometry(w)[2] <= 64)
    session.expect_below_new_icon(panel, icon, "a plain launch")
    session.shot("plain-launch")
    session.enter("12345")
    expected.append(expected[0])
    session.expect_opened(expected)

    # A double click on the icon, the panel hidden or shown: it ends up open, and the keys
    # typed after it go to the number field.
    for hidden in (True, False):
        if hidden:
            session.press("Escape")
            wait_for("the panel to hide", lambda: not session.window(PANEL))
        x, y, width, height = session.geometry(icon)
        session.xdotool("mousemove", str(x + width // 2), str(y + height // 2),
                        "click", "--repeat", "2", "--delay", "80", "1")
        wait_for("the focused panel after a double click", lambda: session.window(PANEL, True))
        session.enter("12345")
        expected.append(expected[0])
        session.expect_opened(expected)
    session.shot("double-click")

    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")


def look(session, tree, gtk):
    # Ten long recent names, the folder chooser, and the keyboard on every control in turn:
    # everything fits the screen, long names are elided, focus shows, and all of it is reached.
    for name in LONG_NAMES:
        os.makedirs(session.root + "/a-J0000/" + name, exist_ok=True)
    session.seed_recents(LONG_NAMES)
    icon = session.launch_to_panel()
    panel = session.window(PANEL)
    rows = {("push button", name) for name in LONG_NAMES}
    if tree:
        wait_for("the panel as a dialog, not %r" % [roles(window) for window in panels()],
                 lambda: [roles(window) for window in panels()] == [("dialog", "Dockets")])
        wait_for("the long rows, named in full", lambda: rows <= tree())
        # Every row that shows lies in the list, clear of its scroll bar.
        window = panels()[0]
        bar = next(item for item in walk(window) if roles(item)[0] == "scroll bar")
        bar_x = extents(bar)[0]
        for item in walk(window):
            if roles(item) in rows:
                x, y, width, height = extents(item)
                check(x + width <= bar_x, "row %r at %r runs under the scroll bar at x=%d"
                      % (roles(item)[1], (x, y, width, height), bar_x))

    # The chooser opens within the screen, whichever dialog the theme supplies.
    session.press("shift+Tab")
    session.shot("focus-select-root")
    session.press("space")
    chooser = wait_for("the folder chooser", lambda: session.window(CHOOSER, True))
    wait_for("the chooser %r to fit the screen" % (session.geometry(chooser),),
             lambda: session.on_screen(chooser))
    session.shot("chooser")
    share = share_listing(session.root)
    if gtk:
        # GTK's chooser, which the GTK theme offers, completed a typed ".../dockets/" to
        # ".../dockets/a-" and made that folder on Return. The chooser here is Qt's whichever
        # theme is loaded: its window comes on the X connection of the panel's, where GTK's
        # would come on GTK's own (with Xvfb's 256 clients, 21 bits of a window's id are the
        # client's own). It takes the folder as typed, and makes nothing.
        clients = {int(window) >> 21 for window in
                   session.xdotool("search", "--class", "zorvant").split()}
        check(len(clients) == 2, "GTK has no X connection of its own: the theme is not loaded")
        check(int(chooser) >> 21 == int(panel) >> 21,
              "the chooser %s is not on the panel's X connection (%s)" % (chooser, panel))
        session.enter(session.root + "/")
    else:
        session.enter(session.root)
    wait_for("the panel back after the chooser",
             lambda: not session.window(CHOOSER) and session.window(PANEL, True))
    check(share_listing(session.root) == share, "the chooser changed the share")
    chosen = wait_for("the root in the settings", lambda: (lambda line: session.root in line and line)(
        session.setting("rootFolderBookmark")))
    check(session.root + "/a-" not in chosen, "a bucket chosen as the root: " + chosen)
    # Keys go nowhere until Qt has taken the focus back as well: its focus ring shows then.
    if tree:
        wait_for("the keyboard back on the chooser's button, not on %r" % (focused(),),
                 lambda: focused() == ("push button", "Select Root 'dockets' Folder"))
    session.shot("focus-back")

    # The keyboard is back on the chooser's button. Tab goes on down the panel: the number
    # field, "Open Folder", every row top to bottom, "Clear recents".
    path = [("text", "Enter folder number"), ("push button", "Open Folder")]
    path += [("push button", name) for name in LONG_NAMES] + [("push button", "Clear recents")]
    for step, (role, name) in enumerate(path):
        session.press("Tab")
        if tree:
            wait_for("Tab %d to reach %r, not %r" % (step + 1, name, focused()),
                     lambda: focused() == (role, name))
        if step in (0, 1, 2, len(path) - 2, len(path) - 1):
            session.shot("focus-%d" % (step + 1))
    check(session.on_screen(panel), "the panel moved off screen")
    # The last control, reached by the keyboard, works.
    session.press("space")
    wait_for("the recents cleared", lambda: "@ByteArray([])" in session.settings())
    session.shot("cleared")
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")


def share_listing(root):
    # Every name under the root, with its kind, size and modification time: what a change to
    # the share would show in.
    listing = []
    for folder, folders, files in os.walk(root):
        for path in [folder] + [os.path.join(folder, name) for name in folders + files]:
            status = os.lstat(path)
            listing.append((path, status.st_mode, status.st_size, status.st_mtime_ns))
    return sorted(listing)


def run_road(session, road, failure_shot=False, cleanup=None):
    # Runs road() in the session and stops every process it started; on a failure prints it
    # with the logs (after a screenshot of the screen, if asked for) and keeps the work folder.
    # The exit status of the whole run.
    try:
        road()
    except AssertionError as failure:
        if failure_shot:
            with contextlib.suppress(Exception):
                session.shot("failure")
        print("FAIL: %s\n(work folder %s, screenshots in %s)"
              % (failure, session.work, session.screenshots))
        for log in sorted(name for name in os.listdir(session.work) if name.endswith(".log")):
            print("--- %s\n%s" % (log, session.read(log).decode(errors="replace")))
        return 1
    finally:
        if cleanup:
            cleanup()
        for process in reversed(session.processes):
            session.stop(process)
    shutil.rmtree(session.work, ignore_errors=True)
    return 0


def main(zorvant, screenshots, *mode):
    # CTest's own timeout and an interrupt both end in the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    options = dict(option.split("=") for option in mode if "=" in option)
    accessibility = "accessibility" in mode
    work = tempfile.mkdtemp(prefix="zorvant-e2e-")
    session = Session(work, os.path.abspath(zorvant), screenshots, accessibility,
                      scale=options.get("scale"), dpi=int(options.get("dpi", 0)) or None,
                      dark="dark" in mode, gtk="gtk" in mode)

    def run():
        session.start_desktop()
        tree = accessible_tree() if accessibility else None
        if "look" in mode:
            look(session, tree, "gtk" in mode)
        else:
            road(session, tree)

    return run_road(session, run, failure_shot=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
