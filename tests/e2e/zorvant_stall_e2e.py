#!/usr/bin/python3
# Zorvant with a docket share that stops answering, on Xvfb with the trayer tray host. The shim
# built from hard_mount_shim.c holds up every listing under the root folder for as long as a
# control file says; the panel is read back through AT-SPI (run under dbus-run-session).
#
# usage: zorvant_stall_e2e.py ZORVANT SHIM SCREENSHOT_FOLDER
import collections
import contextlib
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import (PANEL, Session, accessible_tree, check, focused,  # noqa: E402
                         run_road, wait_for)

SEARCHING = ("label", "Searching…")


# The control file the shim reads, and the log it writes.
class Stall:
    def __init__(self, session, shim):
        self.control = session.work + "/stall"
        session.zorvant_env.update(LD_PRELOAD=shim, ZORVANT_STALL_UNDER=session.root,
                                   ZORVANT_STALL_CONTROL=self.control)
        # In the sanitizer build the shim is loaded before the sanitizer's runtime.
        asan = session.zorvant_env.get("ASAN_OPTIONS")
        session.zorvant_env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + \
            "verify_asan_link_order=0"

    def set(self, mode):
        # None: the share answers; "forever" or a number of seconds per listing; or the calls
        # to hold up ("hard", "after-listing", "readdir") before either (see hard_mount_shim.c).
        with open(self.control, "w") as control:
            control.write(mode or "0")

    def log(self):
        # The calls under the root as (what, call, path): "waiting", "returning" or "passing".
        # A name with a line feed in it spans two lines: its second part is no entry.
        with contextlib.suppress(FileNotFoundError):
            with open(self.control + ".log", "rb") as log:
                entries = [line.decode(errors="replace").split(" ", 2)
                           for line in log.read().splitlines()]
                return [tuple(entry) for entry in entries if len(entry) == 3 and entry[0] in (
                    "waiting", "returning", "passing")]
        return []

    def held(self, since=0):
        # The calls held up since that many log lines, as (call, path).
        return [(call, path) for what, call, path in self.log()[since:] if what == "waiting"]

    def stuck(self):
        # The calls still waiting, by call and path.
        waits = collections.Counter()
        for what, call, path in self.log():
            if what != "passing":
                waits[call, path] += 1 if what == "waiting" else -1
        return +waits


def children(process):
    # The child processes of all the process's threads; threads come and go meanwhile.
    found = []
    tasks = "/proc/%d/task/" % process.pid
    for task in os.listdir(tasks):
        with contextlib.suppress(FileNotFoundError):
            with open(tasks + task + "/children") as listed:
                found += listed.read().split()
    return found


def stalled(session, stall, tree):
    # One instance throughout: the accessibility tree a script reads does not reliably show a
    # second instance that took the first one's place.
    def showing(present, absent=frozenset()):
        wait_for("%r and not %r in the accessibility tree" % (present, absent),
                 lambda: present <= (items := tree()) and not absent & items, 60)

    def reopen_by_click():
        session.click(icon)
        wait_for("the panel to close on a click", lambda: not session.window(PANEL))
        session.click(icon)
        wait_for("the panel after a click", lambda: session.window(PANEL, True))

    icon = session.launch_to_panel()
    # The root is chosen while the share still answers; shown again, the panel has the
    # keyboard in the number field.
    stall.set(None)
    session.choose_root()
    # The X server hands the focus back before Qt has taken it: a click on the icon in
    # between can find the panel still settling after the chooser, and leave it open.
    wait_for("the keyboard back on the chooser's button, not on %r" % (focused(),),
             lambda: focused() == ("push button", "Select Root 'dockets' Folder"))
    reopen_by_click()

    # Each listing takes 3 s: the two of a lookup run at once, so a conflict comes in about 3.
    stall.set("3")
    session.enter("123")
    started = time.monotonic()
    showing({("push button", "Legacy: 123 Old"), ("push button", "J: J000123 New")})
    offered = time.monotonic() - started
    print("the conflict was offered %.2f s after Return" % offered)
    check(offered <= 4.5, "the conflict took %.2f s" % offered)
    session.shot("conflict")
    session.press("Escape")
    showing(set(), {("push button", "Legacy: 123 Old")})

    # An answer that comes after the panel was closed is dropped: nothing opens then.
    before = len(stall.log())
    session.enter("12345")
    session.press("Escape")
    wait_for("the panel to close", lambda: not session.window(PANEL))
    wait_for("both listings of 12345 to return", lambda: sum(
        what == "returning" for what, _, _ in stall.log()[before:]) == 2)
    check(session.finish(session.launch()) == 0, "the second launch did not exit 0")
    wait_for("the panel on a second launch", lambda: session.window(PANEL, True))
    showing(set(), {SEARCHING})
    check(not os.path.exists(session.work + "/opened"), "a folder opened after the panel closed")

    # With the panel open the answer lands as usual.
    session.enter("12345")
    expected = os.fsencode(session.root) + b"/a-123/12345 Smith v Jones\0"
    wait_for("the folder to open", lambda: os.path.exists(session.work + "/opened"))
    wait_for("the folder to open", lambda: session.read("opened") == expected)
    wait_for("the opener's processes to be reaped", lambda: not children(session.running[0]))
    showing({("push button", "12345 Smith v Jones")}, {SEARCHING})
    session.shot("opened")

    # The share stops answering. After a moment the panel says that it is searching.
    stall.set("forever")
    session.enter("123")
    showing({SEARCHING})
    session.shot("searching")
    # Escape, a click on the icon and another window taking the focus all close the panel, and
    # a click and a second launch show it again; a search it had running is given up.
    session.press("Escape")
    wait_for("the panel to close on Escape", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the panel after a click", lambda: session.window(PANEL, True))
    showing(set(), {SEARCHING})
    # Typing and another Return work.
    session.enter("45678")
    showing({SEARCHING})
    reopen_by_click()
    other = session.spawn(["xmessage", "-geometry", "+40+500", "elsewhere"], "xmessage.log")
    window = wait_for("the other window", lambda: session.window("^xmessage$"))
    session.xdotool("windowfocus", "--sync", window)
    wait_for("the panel to close when another window takes the focus",
             lambda: not session.window(PANEL))
    session.stop(other)
    check(session.finish(session.launch()) == 0, "the second launch did not exit 0")
    wait_for("the panel on a second launch", lambda: session.window(PANEL, True))
    session.shot("second-launch")

    # SIGTERM ends the program within 3 s, with its listings still stuck.
    stuck = stall.stuck()
    check(len(stuck) == 4, "other listings hang than were asked for: %r" % stuck)
    process = session.running[0]
    started = time.monotonic()
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(3)
    except subprocess.TimeoutExpired:
        check(False, "zorvant still runs 3 s after SIGTERM")
    print("SIGTERM ended zorvant after %.2f s with %d listings stuck"
          % (time.monotonic() - started, sum(stuck.values())))
    check(session.finish() == 0 and status == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, shim, screenshots):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-stall-e2e-")
    session = Session(work, os.path.abspath(zorvant), screenshots, True)
    stall = Stall(session, os.path.abspath(shim))

    def run():
        session.start_desktop()
        stalled(session, stall, accessible_tree())

    return run_road(session, run, failure_shot=True, cleanup=lambda: stall.set(None))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
