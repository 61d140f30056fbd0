#!/usr/bin/python3
# Zorvant started over a settings file it cannot use: a FIFO, and (as an ordinary user, where
# this machine has one to run as) a file of mode 000. Either way it says so in one line, runs,
# answers a second launch, ends on SIGTERM, and leaves the file as it was. No display needed.
#
# usage: zorvant_settings_e2e.py ZORVANT
import os
import pwd
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import Session, check, run_road, wait_for  # noqa: E402

NOT_SAVED = "; changes are not saved in this run\n"


def run_over(session, settings, problem, prefix=()):
    # Launches over the settings file, expects the one line, a working second launch and a
    # clean end on SIGTERM; the folder holding the file must be as it was.
    folder = os.path.dirname(settings)
    before = sorted(os.listdir(folder)), os.lstat(settings)
    launched = session.spawn([*prefix, session.zorvant], "zorvant-%d.log" % len(session.processes),
                             env=session.zorvant_env)
    session.running = launched, "zorvant-%d.log" % (len(session.processes) - 1)
    line = "⚠️ Failed to read user defaults: file://%s %s%s" % (settings, problem, NOT_SAVED)
    wait_for("the line about the settings file", lambda: line in session.read(session.running[1])
             .decode(errors="replace"), 60)
    second = session.spawn([*prefix, session.zorvant], "second-%d.log" % len(session.processes),
                           env=session.zorvant_env)
    check(session.finish((second, "second-%d.log" % (len(session.processes) - 1))) == 0,
          "the second launch got no answer")
    started = time.monotonic()
    launched.send_signal(signal.SIGTERM)
    try:
        launched.wait(3)
    except subprocess.TimeoutExpired:
        check(False, "zorvant still runs 3 s after SIGTERM")
    print("%s: SIGTERM ended zorvant after %.2f s" % (problem, time.monotonic() - started))
    check(session.finish() == 0, "SIGTERM did not end zorvant cleanly")
    after = sorted(os.listdir(folder)), os.lstat(settings)
    check(after[0] == before[0], "the folder changed: %r, then %r" % (before[0], after[0]))
    check((after[1].st_mode, after[1].st_ino, after[1].st_mtime_ns, after[1].st_size)
          == (before[1].st_mode, before[1].st_ino, before[1].st_mtime_ns, before[1].st_size),
          "the settings file changed")


def main(zorvant):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-settings-e2e-")
    session = Session(work, os.path.abspath(zorvant), work + "/screenshots", False)
    # No tray and no display: a second launch is then the way to the panel.
    session.zorvant_env["QT_QPA_PLATFORM"] = "offscreen"

    def run():
        config = work + "/cfg/Zorvant"
        os.makedirs(config)
        os.mkfifo(config + "/Zorvant.ini")
        run_over(session, config + "/Zorvant.ini", "is not a regular file")
        check(stat.S_ISFIFO(os.stat(config + "/Zorvant.ini").st_mode), "the FIFO is gone")

        try:
            nobody = pwd.getpwnam("nobody")
        except KeyError:
            nobody = None
        if os.geteuid() != 0 or not nobody or not shutil.which("setpriv"):
            print("SKIP: no ordinary user to run as here")
        else:
            # Everything the program may touch belongs to that user, the file included, so that
            # only its mode keeps it out.
            os.chmod(work, 0o755)
            home = work + "/nobody"
            for folder in ("", "/cfg/Zorvant", "/run"):
                os.makedirs(home + folder, 0o700, exist_ok=True)
            settings = home + "/cfg/Zorvant/Zorvant.ini"
            with open(settings, "w") as file:
                file.write("[General]\nrecentDockets=@ByteArray([])\n")
            os.chmod(settings, 0)
            for root, folders, files in os.walk(home):
                for name in [root, *(os.path.join(root, f) for f in folders + files)]:
                    os.chown(name, nobody.pw_uid, nobody.pw_gid)
            session.zorvant_env.update(HOME=home, XDG_CONFIG_HOME=home + "/cfg",
                                       XDG_RUNTIME_DIR=home + "/run")
            run_over(session, settings, "cannot be read (Permission denied)",
                     ("setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
                      "--clear-groups"))

    return run_road(session, run)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
