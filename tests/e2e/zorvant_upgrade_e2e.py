#!/usr/bin/python3
# An upgrade under a running Zorvant, on a real X server with a tray: the build installed into
# a temporary prefix with `cmake --install` and started from there; every installed file then
# replaced as a package manager replaces it (the new file written beside the old and renamed
# over it). The next launch ends the old instance and becomes the new one, with its icon and
# its panel; a launch after it, with nothing replaced, brings the panel up as a reopen does.
# A second upgrade met by two launches at once gives one new instance.
#
# usage: zorvant_upgrade_e2e.py CMAKE BUILD_FOLDER SCREENSHOT_FOLDER
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import PANEL, Session, check, run_road, wait_for  # noqa: E402


def replace_installed_files(prefix):
    # As dpkg does: each file's new copy beside it, renamed over it; the old one lives on only
    # in the processes that have it open.
    count = 0
    for folder, _, files in os.walk(prefix):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                continue
            shutil.copy2(path, path + ".dpkg-new")
            os.rename(path + ".dpkg-new", path)
            count += 1
    check(count > 0, "nothing was installed under " + prefix)


def replaced(pid):
    return os.readlink("/proc/%d/exe" % pid).endswith(" (deleted)")


def icons(session):
    return set(session.xdotool("search", "--onlyvisible", "--class", "zorvant").split())


def expect_new_instance(session, old, launches):
    # The old instance ends cleanly and soon; exactly one of the launches stays, as the new
    # instance from the new files, with its icon and its focused panel; any other exits 0.
    started = time.monotonic()
    try:
        status = old[0].wait(5)
    except subprocess.TimeoutExpired:
        check(False, "the replaced instance still runs 5 s after the launch")
    print("the replaced instance ended after %.2f s" % (time.monotonic() - started))
    check(status == 0, "the replaced instance ended with status %d, not 0" % status)
    wait_for("one launch to stay as the new instance, the others to exit", lambda: sum(
        process.poll() is None for process, _ in launches) == 1
        and all(process.poll() in (None, 0) for process, _ in launches), 30)
    new = next(launch for launch in launches if launch[0].poll() is None)
    check(not replaced(new[0].pid), "the new instance runs the old program")
    icon = min(wait_for("the new instance's tray icon", lambda: icons(session), 30))
    panel = wait_for("the new instance's focused panel", lambda: session.window(PANEL, True), 30)
    session.expect_below_new_icon(panel, icon, "the new instance")
    print("the new instance showed its icon and its panel %.2f s after the launch"
          % (time.monotonic() - started))
    session.shot("after-upgrade")
    return new


def upgrade(session, prefix):
    session.launch_to_panel()
    old = session.running
    check(not replaced(old[0].pid), "the instance runs replaced files before any upgrade")

    replace_installed_files(prefix)
    check(replaced(old[0].pid), "replacing the files did not show in /proc")
    session.running = expect_new_instance(session, old, [session.launch()])

    # Nothing replaced since: the panel, hidden by a click on the icon, comes back as a reopen
    # brings it, and the instance stays the same.
    icon = min(icons(session))
    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    check(session.finish(session.launch()) == 0, "a launch with nothing replaced did not exit 0")
    wait_for("the panel on a launch with nothing replaced", lambda: session.window(PANEL, True))
    check(session.running[0].poll() is None, "a launch with nothing replaced ended the instance")

    # A second upgrade, and two launches at once: one new instance, not two, nor one that the
    # other ends again.
    session.click(icon)
    wait_for("the panel to hide on a click", lambda: not session.window(PANEL))
    old = session.running
    replace_installed_files(prefix)
    launches = [session.launch(), session.launch()]
    session.running = expect_new_instance(session, old, launches)
    for process, log in launches:
        check(b"does not answer" not in session.read(log), "a launch said: " +
              session.read(log).decode(errors="replace"))
    check(session.finish() == 0, "SIGTERM did not end the new instance cleanly")


def main(cmake, build, screenshots):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-upgrade-e2e-")
    prefix = work + "/prefix"
    subprocess.run([cmake, "--install", build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    session = Session(work, prefix + "/bin/zorvant", screenshots, False)

    def run():
        session.start_desktop()
        upgrade(session, prefix)

    return run_road(session, run, failure_shot=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
