#!/usr/bin/python3
# An upgrade through the package manager under a running Zorvant, as a user meets it: the Debian
# package built from this build tree (by CPack, as ./dev package does) installed with dpkg and
# started from /usr/bin; then a package of another build, the same files with another build
# identity, installed over it. The next launch ends the old instance and becomes the new one,
# with its icon and its panel. The package is purged at the end, whatever happened.
#
# It installs into the system, so it runs as root (as CI does), and only where no Zorvant
# package is installed already.
#
# usage: zorvant_package_upgrade_e2e.py CPACK BUILD_FOLDER BUILD_IDENTITY SCREENSHOT_FOLDER
import glob
import os
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zorvant_e2e import Session, check, run_road  # noqa: E402
from zorvant_upgrade_e2e import expect_new_instance, replaced  # noqa: E402

SKIP = 77
INSTALLED = ("/usr/bin/zorvant", "/usr/lib/zorvant/libzorvant-gui.so")


def installed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "zorvant"],
                            capture_output=True, text=True).stdout
    return "install ok installed" in status


def another_build(package, identity, work):
    # The same package with another build identity in the launcher and the module: what a
    # rebuild of the same version gives, without building twice.
    unpacked = work + "/unpacked"
    subprocess.run(["dpkg-deb", "-R", package, unpacked], check=True)
    other = identity[:-1] + ("0" if identity[-1] != "0" else "1")
    for path in INSTALLED:
        with open(unpacked + path, "rb") as file:
            data = file.read()
        check(data.count(identity.encode()) >= 1, "no build identity %r in %s" % (identity, path))
        with open(unpacked + path, "wb") as file:
            file.write(data.replace(identity.encode(), other.encode()))
    rebuilt = work + "/zorvant-other-build.deb"
    subprocess.run(["dpkg-deb", "-b", "--root-owner-group", unpacked, rebuilt], check=True,
                   stdout=subprocess.DEVNULL)
    return rebuilt, other


def dpkg_install(package):
    subprocess.run(["dpkg", "-i", package], check=True, stdout=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL, timeout=300,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def upgrade(session, package, identity, work):
    session.launch_to_panel()
    old = session.running
    check(not replaced(old[0].pid), "the instance runs replaced files before any upgrade")

    rebuilt, other = another_build(package, identity, work)
    dpkg_install(rebuilt)
    check(replaced(old[0].pid), "installing the other build did not show in /proc")
    new = expect_new_instance(session, old, [session.launch()])
    with open("/proc/%d/exe" % new[0].pid, "rb") as program:
        check(other.encode() in program.read(), "the new instance is not the other build")
    session.running = new
    check(session.finish() == 0, "SIGTERM did not end the new instance cleanly")


def main(cpack, build, identity, screenshots):
    if os.geteuid() != 0:
        print("skipped: installing a package needs root (CI runs as root)")
        return SKIP
    if installed():
        print("skipped: a Zorvant package is installed here already, and is left alone")
        return SKIP
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = tempfile.mkdtemp(prefix="zorvant-package-upgrade-")
    subprocess.run([cpack, "-G", "DEB", "--config", build + "/CPackConfig.cmake", "-B",
                    work + "/package"], cwd=build, check=True, stdout=subprocess.DEVNULL,
                   timeout=600)
    package = glob.glob(work + "/package/zorvant_*.deb")[0]
    try:
        dpkg_install(package)
        session = Session(work, "/usr/bin/zorvant", screenshots, False)

        def run():
            session.start_desktop()
            upgrade(session, package, identity, work)

        return run_road(session, run, failure_shot=True)
    finally:
        subprocess.run(["dpkg", "--purge", "zorvant"], stdout=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, timeout=300)
        check(not installed() and not any(os.path.exists(path) for path in INSTALLED),
              "the package was not purged")


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
