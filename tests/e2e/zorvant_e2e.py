#!/usr/bin/python3
# Zorvant on a real X server: Xvfb, the trayer tray host and the real binary, driven by
# xdotool. Folders go to a stand-in xdg-open that records its arguments. With "accessibility"
# (run under dbus-run-session) the panel is also read back through AT-SPI on the same road.
#
# usage: zorvant_e2e.py ZORVANT SCREENSHOT_FOLDER [accessibility]
import contextlib
import ctypes
import os
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

SANITIZER_REPORTS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                     b"SUMMARY: UndefinedBehaviorSanitizer")
PANEL, CHOOSER = "^Dockets$", "^Select Root 'dockets' Folder$"
STAND_IN = "#!/bin/sh\nprintf '%s\\0' \"$@\" >> \"$(dirname \"$0\")/../opened\"\n"
libc = ctypes.CDLL("libc.so.6")
HERE = os.path.dirname(os.path.abspath(__file__))


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def wait_for(what, condition, timeout=30.0):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        check(time.monotonic() < deadline, "timed out waiting for " + what)
        time.sleep(0.05)
    return value


def desktop_environment(log):
    # What a desktop script under tests/e2e/ printed for programs to join it: its export lines.
    return dict(shlex.split(line)[1].split("=", 1) for line in log.decode().splitlines()
                if line.startswith("export "))


# The processes of one run, the X server they share and the program under test. Each process
# runs in a group of its own, so that stopping it also stops what it spawned, and dies with
# this script (PR_SET_PDEATHSIG) should the script be killed outright.
class Session:
    def __init__(self, work, zorvant, screenshots, accessibility):
        self.work, self.zorvant, self.screenshots, self.processes = work, zorvant, screenshots, []
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("DISPLAY", "WAYLAND", "QT_", "DBUS_", "XDG_"))}
        self.env["HOME"], self.root = work + "/home", work + "/dockets"
        for folder in ("home", "bin", "dockets/a-123/12345 Smith v Jones", "dockets/a-1/123 Old",
                       "dockets/a-J0001/J000123 New"):
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

    def read(self, name):
        with open(os.path.join(self.work, name), "rb") as file:
            return file.read()

    def spawn(self, argv, log, env=None, **options):
        with open(os.path.join(self.work, log), "ab") as output:
            process = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=output, start_new_session=True,
                                       preexec_fn=lambda: libc.prctl(1, signal.SIGKILL), **options)
        self.processes.append(process)
        return process

    def stop(self, process, sig=signal.SIGTERM):
        # The signal to the process's group, then SIGKILL to whatever is left; the exit status.
        if process.poll() is None:
            os.killpg(process.pid, sig)
            with contextlib.suppress(subprocess.TimeoutExpired):
                process.wait(30)
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)
        return process.wait(10)

    def start_desktop(self):
        # Xvfb and the trayer tray host, started by the script a developer starts by hand.
        self.spawn([os.path.join(HERE, "desktop-xembed.sh")], "desktop.log")
        self.env["DISPLAY"] = self.zorvant_env["DISPLAY"] = wait_for(
            "the desktop", lambda: desktop_environment(self.read("desktop.log")).get("DISPLAY"))

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

    def geometry(self, window):
        values = dict(line.split("=") for line in
                      self.xdotool("getwindowgeometry", "--shell", window).splitlines())
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def click(self, window):
        x, y, width, height = self.geometry(window)
        self.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "click", "1")

    def press(self, *keys):
        self.xdotool("key", "--delay", "40", *keys)

    def enter(self, text):
        # Replaces the focused field's text by typing, then presses Return.
        self.press("ctrl+a")
        self.xdotool("type", "--delay", "40", text)
        self.press("Return")

    def launch(self):
        log = "zorvant-%d.log" % len(self.processes)
        return self.spawn([self.zorvant], log, env=self.zorvant_env), log

    def finish(self, launched=None, sig=signal.SIGTERM):
        # The exit status of a second launch, or of the running instance once stopped by the
        # signal. A sanitizer report in its output fails the test.
        process, log = launched or self.running
        status = process.wait(60) if launched else self.stop(process, sig)
        check(not any(report in self.read(log) for report in SANITIZER_REPORTS),
              "sanitizer report from zorvant:\n" + self.read(log).decode(errors="replace"))
        return status

    def expect_opened(self, expected):
        # The stand-in received exactly these arguments, and the opener left no child behind.
        def opened():
            with contextlib.suppress(FileNotFoundError):
                return self.read("opened").split(b"\0")[:-1]
        wait_for("the stand-in to receive %r" % expected[-1],
                 lambda: len(opened() or []) >= len(expected))
        check(opened() == expected, "opened %r, expected %r" % (opened(), expected))
        # The opener is reaped from the event loop once it has ended.
        tasks = "/proc/%d/task/" % self.running[0].pid
        wait_for("zorvant to reap the opener", lambda: not "".join(
            open(tasks + task + "/children").read() for task in os.listdir(tasks)).split())

    def launch_to_panel(self):
        # Launch: the tray icon and no window. A click: the panel, wholly on screen and below
        # the icon, with the keyboard.
        self.running = self.launch()
        # A window being embedded in the tray can be listed twice: the same one all the same.
        windows = wait_for("the tray icon", lambda: set(
            self.xdotool("search", "--onlyvisible", "--class", "zorvant").split()), 90)
        icon = min(windows)
        x, y, width, height = self.geometry(icon)
        check(len(windows) == 1 and width <= 64 and height <= 64,
              "more than the tray icon is visible at launch: %s, %dx%d" % (windows, width, height))
        self.shot("launch")
        self.click(icon)
        panel = wait_for("the focused panel after a click", lambda: self.window(PANEL, True))
        px, py, pwidth, pheight = self.geometry(panel)
        screen_width, screen_height = map(int, self.xdotool("getdisplaygeometry").split())
        check((pwidth, pheight) == (420, 420) and px >= 0 and px + pwidth <= screen_width
              and py >= y + height and py + pheight <= screen_height,
              "panel %r is not 420x420 below the icon and wholly on the %dx%d screen"
              % ((px, py, pwidth, pheight), screen_width, screen_height))
        self.shot("panel")
        return icon


def accessible_tree():
    # The (role, name) pairs showing in the window named "Dockets", the panel.
    import pyatspi

    def walk(node):
        for child in filter(None, map(node.getChildAtIndex, range(node.childCount))):
            if child.getState().contains(pyatspi.STATE_SHOWING):
                yield child.getRoleName(), child.name
            yield from walk(child)

    return lambda: {item for app in pyatspi.Registry.getDesktop(0) for window in app or []
                    if window and window.name == "Dockets" for item in walk(window)}


def road(session, tree):
    def expect_tree(present, absent=frozenset()):
        if tree:
            wait_for("%r and not %r in the accessibility tree" % (present, absent),
                     lambda: present <= (items := tree()) and not absent & items, 60)

    root = os.fsencode(session.root)
    icon = session.launch_to_panel()
    socket = os.stat(session.work + "/run/zorvant.socket").st_mode
    check(stat.S_ISSOCK(socket) and not socket & 0o077, "socket mode %o" % socket)
    session.enter("12345")
    error = ("label", "Root folder not selected")
    expect_tree({("push button", "Select Root 'dockets' Folder"), ("push button", "Open Folder"),
                 ("text", "Enter folder number"), error})

    # Shift+Tab from the number field reaches the chooser's button.
    session.press("shift+Tab", "space")
    wait_for("the folder chooser", lambda: session.window(CHOOSER, True))
    session.shot("chooser")
    session.enter(session.root)
    wait_for("the panel back after the chooser",
             lambda: not session.window(CHOOSER) and session.window(PANEL, True))

    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the focused panel again", lambda: session.window(PANEL, True))
    # Typed right after the click, the keys go to the number field.
    session.enter("12345")
    expected = [root + b"/a-123/12345 Smith v Jones"]
    session.expect_opened(expected)
    expect_tree({("push button", "12345 Smith v Jones"), ("push button", "Clear recents")}, {error})

    session.enter("123")
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


def main(zorvant, screenshots, *mode):
    # CTest's own timeout and an interrupt both end in the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work, accessibility = tempfile.mkdtemp(prefix="zorvant-e2e-"), mode == ("accessibility",)
    session = Session(work, os.path.abspath(zorvant), screenshots, accessibility)
    try:
        session.start_desktop()
        road(session, accessible_tree() if accessibility else None)
    except AssertionError as failure:
        print("FAIL: %s\n(work folder %s, screenshots in %s)" % (failure, work, screenshots))
        for log in sorted(name for name in os.listdir(work) if name.endswith(".log")):
            print("--- %s\n%s" % (log, session.read(log).decode(errors="replace")))
        return 1
    finally:
        for process in reversed(session.processes):
            session.stop(process)
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
