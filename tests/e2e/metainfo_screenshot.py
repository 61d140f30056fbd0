#!/usr/bin/python3
# The panel as software centres show it: Zorvant on Xvfb over a root of a few plausible dockets,
# four of them opened through the panel, a number being typed. The panel window alone is saved
# as panel.png; packaging/screenshots/panel.png, which the AppStream metadata names, is a copy.
#
# usage: metainfo_screenshot.py ZORVANT SCREENSHOT_FOLDER
import contextlib
import os
import signal
import subprocess
import sys
import tempfile

from zorvant_e2e import PANEL, Session, check, run_road, wait_for

# Typed number, then the docket folder it opens, relative to the root.
OPENED = [("98712", "a-987/98712 Estate of Brown"),
          ("4521", "a-J0045/J004521 Harbour Lease"),
          ("123456", "a-J1234/J123456 Northwind Merger"),
          ("12345", "a-123/12345 Smith v Jones")]


def wait_opened(session, expected):
    # Only what the stand-in received: whether the opener reaps its children is the e2e test's
    # to check, not this picture's.
    def opened():
        with contextlib.suppress(FileNotFoundError):
            return session.read("opened").split(b"\0")[:-1]
    wait_for("the stand-in to receive %r" % expected[-1], lambda: opened() == expected)


def take(session, screenshots):
    # A root of its own with a short path, which the panel shows whole.
    session.root = os.path.join(session.work, "Dockets")
    root = os.fsencode(session.root)
    for _, folder in OPENED:
        os.makedirs(os.path.join(session.root, folder), exist_ok=True)
    session.start_desktop()
    icon = session.launch_to_panel()
    session.choose_root()
    # Shown anew, the panel puts the keyboard into the number field.
    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    session.click(icon)
    wait_for("the focused panel again", lambda: session.window(PANEL, True))
    expected = []
    for number, folder in OPENED:
        session.enter(number)
        expected.append(root + b"/" + os.fsencode(folder))
        wait_opened(session, expected)
    session.press("ctrl+a")
    session.xdotool("type", "--delay", "40", "2024")
    panel = session.window(PANEL, True)
    check(panel, "the panel lost the keyboard")
    session.shot("metainfo")
    image = os.path.join(screenshots, "panel.png")
    session.run("import", "-window", panel, image)
    size = subprocess.run(["identify", "-format", "%wx%h", image], capture_output=True,
                          text=True).stdout
    check(size == "420x420", "the panel screenshot is %s, not 420x420" % size)
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")


def main(zorvant, screenshots):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-")
    session = Session(work, os.path.abspath(zorvant), screenshots, False)
    status = run_road(session, lambda: take(session, screenshots))
    if status == 0:
        print("saved " + os.path.join(screenshots, "panel.png"))
    return status


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
