#!/usr/bin/python3
# The names and numbers that the desktop entries, the AppStream metadata, the Debian changelog
# and the program each state on their own must agree, or menus, software centres and the
# window-to-application match quietly break.
#
# usage: check_metadata.py SOURCE_DIR PROJECT_VERSION
import configparser
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

APP_ID = "org.zorvant.Zorvant"


def desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


def png_size(path):
    with open(path, "rb") as file:
        header = file.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", header[16:24])


def main(source, version):
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    packaging = os.path.join(source, "packaging")
    menu = desktop_entry(os.path.join(packaging, APP_ID + ".desktop"))
    autostart = desktop_entry(os.path.join(packaging, "autostart", APP_ID + ".desktop"))
    metainfo = ElementTree.parse(os.path.join(packaging, APP_ID + ".metainfo.xml")).getroot()

    expect(metainfo.findtext("id") == APP_ID, "metainfo id is %r" % metainfo.findtext("id"))
    expect(metainfo.findtext("launchable") == APP_ID + ".desktop",
           "metainfo launchable is %r" % metainfo.findtext("launchable"))
    # The login start is quiet: only the icon, the panel when asked for.
    binary = metainfo.findtext("provides/binary")
    for name, entry, arguments in (("menu entry", menu, ""),
                                   ("autostart entry", autostart, " --background")):
        expect(entry.get("Icon") == APP_ID, "%s icon is %r" % (name, entry.get("Icon")))
        expect(entry.get("Exec") == entry.get("TryExec") + arguments == binary + arguments,
               "%s runs %r, tries %r; the metainfo provides %r" % (
                   name, entry.get("Exec"), entry.get("TryExec"),
                   metainfo.findtext("provides/binary")))
    with open(os.path.join(source, "app", "zorvant_app.cpp"), encoding="utf-8") as file:
        reported = re.findall(r'setDesktopFileName\(QStringLiteral\("([^"]*)"\)\)', file.read())
    expect(reported == [APP_ID], "the program reports the desktop file name %r" % reported)

    for icon in (APP_ID, APP_ID + "-tray", APP_ID + "-tray-symbolic"):
        expect(os.path.isfile(os.path.join(source, "resources", "icons", icon + ".svg")),
               "no icon " + icon)

    releases = [release.get("version") for release in metainfo.iter("release")]
    expect(releases[:1] == [version],
           "the newest metainfo release is %r, the project %s" % (releases[:1], version))
    with open(os.path.join(packaging, "changelog"), encoding="utf-8") as file:
        top = re.match(r"zorvant \(([^)]*)\)", file.readline())
    expect(top and top.group(1) == version, "the Debian changelog starts with another version")

    # Software centres fetch the screenshot from its address; the image published there is the
    # one committed beside the metainfo.
    for image in metainfo.iter("image"):
        committed = os.path.join(packaging, "screenshots", os.path.basename(image.text))
        declared = (int(image.get("width")), int(image.get("height")))
        expect(os.path.isfile(committed) and png_size(committed) == declared,
               "%s is not a %dx%d PNG" % (committed, *declared))

    for failure in failures:
        print("FAIL: " + failure)
    print("%d checks failed" % len(failures) if failures else "metadata agrees")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
