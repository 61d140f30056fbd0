#!/usr/bin/python3
# Builds the Debian package from a build tree with CPack and checks what it carries: every file
# the desktop needs, the autostart entry kept as a configuration file, and dependencies on
# run-time libraries only, as dpkg-shlibdeps finds them.
#
# usage: check_package.py CPACK BUILD_DIR PROJECT_VERSION
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

EXPECTED = [
    "/usr/bin/zorvant",
    "/usr/share/applications/org.zorvant.Zorvant.desktop",
    "/etc/xdg/autostart/org.zorvant.Zorvant.desktop",
    "/usr/share/metainfo/org.zorvant.Zorvant.metainfo.xml",
    "/usr/share/icons/hicolor/scalable/apps/org.zorvant.Zorvant.svg",
    "/usr/share/icons/hicolor/scalable/status/org.zorvant.Zorvant-tray.svg",
    "/usr/share/icons/hicolor/scalable/status/org.zorvant.Zorvant-tray-symbolic.svg",
    "/usr/share/man/man1/zorvant.1.gz",
    "/usr/share/doc/zorvant/copyright",
    "/usr/share/doc/zorvant/changelog.gz",
] + ["/usr/share/icons/hicolor/%dx%d/apps/org.zorvant.Zorvant.png" % (size, size)
     for size in (16, 22, 24, 32, 48, 64, 128, 256)]
MODULE = "libzorvant-gui.so"


def output(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def package_names(relation):
    # "libc6 (>= 2.34), libqt6core6 (>= 6.4.0) | foo" -> ["libc6", "libqt6core6", "foo"]
    return [re.split(r"[\s(:]", alternative.strip())[0]
            for part in relation.split(",") for alternative in part.split("|") if part.strip()]


def main(cpack, build, version):
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    work = tempfile.mkdtemp(prefix="zorvant-package-")
    try:
        config = os.path.join(build, "CPackConfig.cmake")
        run = subprocess.run([cpack, "-G", "DEB", "--config", config, "-B", work], cwd=build,
                             capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout + run.stderr)
            print("FAIL: cpack exited %d" % run.returncode)
            return 1
        debs = glob.glob(os.path.join(work, "*.deb"))
        expect(len(debs) == 1, "cpack made %r, not one .deb" % debs)
        deb = debs[0]
        arch = output("dpkg", "--print-architecture").strip()
        expect(os.path.basename(deb) == "zorvant_%s_%s.deb" % (version, arch),
               "the package is named " + os.path.basename(deb))

        contents = {line.split()[-1].lstrip(".")
                    for line in output("dpkg-deb", "-c", deb).splitlines()}
        for path in EXPECTED:
            expect(path in contents, "the package lacks " + path)
        expect(not [path for path in contents if path.startswith("/usr/etc")],
               "the package installs under /usr/etc")
        # The program module that the launcher loads, where the build makes one.
        if os.path.exists(os.path.join(build, "app", MODULE)):
            module = re.compile(r"/usr/lib/(.+/)?zorvant/" + re.escape(MODULE))
            expect([path for path in contents if module.fullmatch(path)],
                   "the package lacks the program module " + MODULE)

        depends = package_names(output("dpkg-deb", "-f", deb, "Depends"))
        expect(not [name for name in depends if name.endswith("-dev")],
               "Depends names a development package: %r" % depends)
        # dpkg-shlibdeps ran: the libraries the binary links name their packages. The plugins
        # Qt loads at run time are named by hand.
        for name in ("libc6", "libqt6widgets6", "qt6-qpa-plugins", "libqt6svg6"):
            expect(name in depends, "Depends lacks %s: %r" % (name, depends))

        control = os.path.join(work, "control")
        subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
        with open(os.path.join(control, "conffiles")) as file:
            expect(file.read().split() == ["/etc/xdg/autostart/org.zorvant.Zorvant.desktop"],
                   "the autostart entry is not the one configuration file")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL: " + failure)
    print("%d checks failed" % len(failures) if failures else "the package carries everything")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
