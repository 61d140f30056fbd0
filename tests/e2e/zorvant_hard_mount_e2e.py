#!/usr/bin/python3
# Zorvant on a docket share whose server stops answering, as a hard NFS or CIFS mount does: the
# shim built from hard_mount_shim.c holds up the calls under the root folder. On Xvfb with the
# trayer tray host; the panel is read back through AT-SPI (run under dbus-run-session).
#
# usage: zorvant_hard_mount_e2e.py ZORVANT SHIM SCREENSHOT_FOLDER SITUATION
#   down-at-login   every call under the root blocks, from the start of a launch on
#   after-listing   the share answers the listings of a lookup, then not stat, access or open
#   readdir         listings open but never return an entry; Return is pressed 31 times
# In each the tray icon comes within seconds, the panel stays usable, a lookup that waits on
# the share says so after about 10 s, SIGTERM ends the program, and the root stays chosen.
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import (PANEL, Session, accessible_tree, check, field_text,  # noqa: E402
                         focused, run_road, wait_for)
from zorvant_stall_e2e import SEARCHING, Stall  # noqa: E402

NOT_ANSWERING = "File server not answering for "
# How long a lookup may wait before the panel says that the server is not answering (about
# 10 s), with room for a loaded machine.
ANSWER_WITHIN = 20
ICON_WITHIN = 10
# Threads that 31 presses of Return may add: a few listings stuck on the root, not one per press.
SPARE_THREADS = 8
DOCKET = "12345"


class Situation:
    # One of the three, with its name on each failure.
    def __init__(self, name, session, stall, tree):
        self.name, self.session, self.stall, self.tree = name, session, stall, tree

    def fail(self, message):
        raise AssertionError("situation %s: %s" % (self.name, message))

    def expect(self, failure, condition, timeout):
        # Polls the condition; on a timeout fails with the failure: a text, or a function that
        # describes what shows by then.
        try:
            return wait_for("situation " + self.name, condition, timeout)
        except AssertionError:
            self.fail(failure() if callable(failure) else failure)

    def items(self):
        # The (role, name) pairs showing in the panel. A program whose main thread is stuck
        # answers no accessibility call, and pyatspi then counts -1 children: nothing shows.
        try:
            return self.tree()
        except ValueError:
            return set()

    def error_line(self):
        # What the panel's error line (errorLabel, a notification to AT-SPI) says, if anything.
        return next((name for role, name in self.items() if role == "notification"), None)

    def says_not_answering(self):
        items = self.items()
        return (any(role == "notification" and name.startswith(NOT_ANSWERING)
                    for role, name in items) and SEARCHING not in items)

    def bookmark(self):
        # The stored root, as the settings file holds it.
        ini = self.session.work + "/cfg/Zorvant/Zorvant.ini"
        with open(ini, "rb") as settings:
            return next((line for line in settings.read().splitlines()
                         if line.startswith(b"rootFolderBookmark=")), None)

    def threads(self):
        return len(os.listdir("/proc/%d/task" % self.session.running[0].pid))

    def launch_to_icon(self):
        # The tray icon within seconds, whatever the share does.
        session = self.session
        session.running = session.launch("--background")
        started = time.monotonic()
        windows = self.expect("no tray icon within %d s of launch" % ICON_WITHIN, lambda: set(
            session.xdotool("search", "--onlyvisible", "--class", "zorvant").split()),
            ICON_WITHIN)
        print("%s: the tray icon came %.2f s after launch"
              % (self.name, time.monotonic() - started))
        return min(windows)

    def show_panel(self, icon, how):
        self.session.click(icon)
        self.expect("no panel within 5 s of a click on the tray icon " + how,
                    lambda: self.session.window(PANEL, True), 5)

    def choose_root(self):
        # The root is chosen while the share answers; shown again, the panel has the keyboard
        # in the number field. The settings file holds it then.
        session = self.session
        self.stall.set(None)
        icon = session.launch_to_panel()
        session.choose_root()
        # The X server hands the focus back before Qt has taken it.
        wait_for("the keyboard back on the chooser's button, not on %r" % (focused(),),
                 lambda: focused() == ("push button", "Select Root 'dockets' Folder"))
        session.click(icon)
        wait_for("the panel to close on a click", lambda: not session.window(PANEL))
        session.click(icon)
        wait_for("the panel after a click", lambda: session.window(PANEL, True))
        stored = wait_for("the root in the settings file", self.bookmark)
        check(os.fsencode(session.root) in stored, "the stored root %r is not %r"
              % (stored, session.root))
        return icon, stored

    def expect_not_answering(self, since):
        # The lookup that waits on the share says so, naming the root, instead of searching
        # for ever; and never that the folder is not there.
        self.expect(lambda: "the panel did not say %r within %d s of Return; its error line "
                            "says %r" % (NOT_ANSWERING + "…", ANSWER_WITHIN, self.error_line()),
                    self.says_not_answering, max(1, since + ANSWER_WITHIN - time.monotonic()))
        print("%s: the panel said %r %.2f s after Return"
              % (self.name, self.error_line(), time.monotonic() - since))
        self.session.shot("not-answering")

    def expect_caught(self, since, calls):
        # The shim held up one of these calls under the root: otherwise nothing was tested.
        held = self.stall.held(since)
        if not any(call in calls for call, _ in held):
            self.fail("the shim held up none of %s under the root (it held %r): the program's "
                      "calls went past it" % ("/".join(calls), held))
        print("%s: the shim held up %d calls, first %r" % (self.name, len(held), held[0]))

    def still_usable(self, icon, stored):
        # Escape hides the panel, a second launch shows it, SIGTERM ends the program, and the
        # root is still the one chosen, all while the share does not answer.
        session = self.session
        session.press("Escape")
        self.expect("Escape did not hide the panel within 5 s",
                    lambda: not session.window(PANEL), 5)
        started = time.monotonic()
        try:
            status = session.finish(session.launch())
        except subprocess.TimeoutExpired:
            self.fail("a second launch still runs after 60 s")
        if status != 0:
            self.fail("a second launch exited %d after %.1f s"
                      % (status, time.monotonic() - started))
        self.expect("no panel within 5 s of a second launch",
                    lambda: session.window(PANEL, True), 5)
        session.shot("second-launch")

        process = session.running[0]
        started = time.monotonic()
        process.send_signal(signal.SIGTERM)
        try:
            status = process.wait(3)
        except subprocess.TimeoutExpired:
            self.fail("zorvant still runs 3 s after SIGTERM")
        print("%s: SIGTERM ended zorvant after %.2f s with %d calls held up"
              % (self.name, time.monotonic() - started, sum(self.stall.stuck().values())))
        check(session.finish() == 0 and status == 0,
              "situation %s: SIGTERM did not end zorvant cleanly" % self.name)
        if self.bookmark() != stored:
            self.fail("the settings file holds the root %r after the run, %r before"
                      % (self.bookmark(), stored))


def down_at_login(situation):
    # Every call under the root blocks from the start: the bookmark cannot be resolved, yet the
    # tray icon comes, the panel shows the root being checked, and a lookup says that the
    # server is not answering.
    session, stall = situation.session, situation.stall
    _, stored = situation.choose_root()
    check(session.finish() == 0, "SIGTERM did not end the run that chose the root")
    stall.set("hard forever")
    mark = len(stall.log())
    icon = situation.launch_to_icon()
    situation.show_panel(icon, "with the share down")
    situation.expect(lambda: "the panel does not show the root %r while checking it; it shows "
                             "%r" % (session.root, situation.items()),
                     lambda: any(role == "label" and name.startswith(session.root)
                                 for role, name in situation.items()), 5)
    session.shot("checking-root")
    session.enter(DOCKET)
    situation.expect_not_answering(time.monotonic())
    # The root's check has waited as long: beside the root, no "Checking…" for ever.
    situation.expect(lambda: "the root's share is not said to be not answering: %r"
                             % (situation.items(),),
                     lambda: ("label", "Not answering") in situation.items(), 5)
    situation.expect_caught(mark, ("stat", "stat64", "lstat", "lstat64", "fstatat",
                                   "fstatat64", "statx", "access", "faccessat", "open",
                                   "open64", "openat", "openat64", "realpath", "opendir",
                                   "readdir", "readdir64"))
    situation.still_usable(icon, stored)


def after_listing(situation):
    # The lookup's listings answer, then stat, access and open block: Return on a number that
    # exists either opens its folder (what the listing told is enough) or, waiting on the
    # share, says that it is not answering. Either way the panel stays usable.
    session, stall = situation.session, situation.stall
    icon, stored = situation.choose_root()
    stall.set("after-listing forever")
    mark = len(stall.log())
    session.enter(DOCKET)
    returned = time.monotonic()
    expected = os.fsencode(session.root) + b"/a-123/12345 Smith v Jones"
    situation.expect(lambda: "within %d s of Return on %s the folder did not open and the "
                             "panel did not say %r; the error line says %r, the shim held %r"
                             % (ANSWER_WITHIN, DOCKET, NOT_ANSWERING + "…",
                                situation.error_line(), stall.held(mark)),
                     lambda: session.opened() or situation.says_not_answering(), ANSWER_WITHIN)
    if not any(path.startswith(session.root) for _, _, path in stall.log()[mark:]):
        situation.fail("the shim saw no call under the root after Return: it caught nothing")
    if session.opened():
        check(session.opened() == [expected], "situation after-listing: opened %r, expected %r"
              % (session.opened(), [expected]))
        print("after-listing: the folder opened %.2f s after Return, %d calls held up"
              % (time.monotonic() - returned, len(stall.held(mark))))
    else:
        situation.expect_not_answering(returned)
    situation.still_usable(icon, stored)


def readdir(situation):
    # Listings that open but never return an entry: 31 presses of Return on one number share
    # the stuck listings instead of adding threads, and the lookup says that the server is not
    # answering, never that the folder is not there.
    session, stall = situation.session, situation.stall
    icon, stored = situation.choose_root()
    stall.set("readdir forever")
    mark = len(stall.log())
    before = situation.threads()
    session.enter(DOCKET)
    returned = time.monotonic()
    session.press(*["Return"] * 30)
    # A key typed after the presses is handled after them: once the field shows it, so have
    # they been.
    session.press("End")
    session.type("0")
    situation.expect(lambda: "the field reads %r, not %r, after 31 presses of Return"
                             % (field_text(), DOCKET + "0"),
                     lambda: field_text() == DOCKET + "0", 10)
    after = situation.threads()
    print("readdir: %d threads before the first press of Return, %d after the 31st"
          % (before, after))
    if after > before + SPARE_THREADS:
        situation.fail("%d threads after 31 presses of Return, %d before the first"
                       % (after, before))
    situation.expect_not_answering(returned)
    situation.expect_caught(mark, ("readdir", "readdir64"))
    later = situation.threads()
    if later > before + SPARE_THREADS:
        situation.fail("%d threads once the panel said the server is not answering, %d before "
                       "the first press of Return" % (later, before))
    situation.still_usable(icon, stored)


SITUATIONS = {"down-at-login": down_at_login, "after-listing": after_listing, "readdir": readdir}


def main(zorvant, shim, screenshots, name):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-hard-mount-e2e-")
    session = Session(work, os.path.abspath(zorvant), screenshots, True)
    stall = Stall(session, os.path.abspath(shim))

    def run():
        # A program whose main thread is stuck answers no accessibility call: each gives up
        # after 2 s rather than D-Bus's 25.
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        Atspi.set_timeout(2000, 15000)
        session.start_desktop()
        SITUATIONS[name](Situation(name, session, stall, accessible_tree()))

    return run_road(session, run, failure_shot=True, cleanup=lambda: stall.set(None))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
