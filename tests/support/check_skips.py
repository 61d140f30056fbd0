#!/usr/bin/python3
# Fails the test run when a test was skipped without saying why. A skip must carry its reason
# in the test itself: GTEST_SKIP() << "reason" in a unit test, a line "skipped: reason" before
# the skip exit code in a script. A test that skips when the machine is slow cannot pass this
# way unnoticed: its reason is there for whoever reads the run.
#
#   check_skips.py RESULTS     RESULTS: ctest's JUnit file ctest.xml and GoogleTest's XML files
import glob
import os
import sys
import xml.etree.ElementTree as ElementTree


def ctest_silent_skips(path):
    silent = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.find("skipped") is None:
            continue
        output = case.findtext("system-out") or ""
        reasons = [line for line in output.splitlines()
                   if line.startswith("skipped:") and line[len("skipped:"):].strip()]
        if not reasons:
            silent.append(case.get("name"))
    return silent


def gtest_silent_skips(path):
    silent = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        skipped = case.find("skipped")
        if skipped is None:
            continue
        # GoogleTest's message is "file:line", a line feed, then what the test said.
        message = skipped.get("message", "")
        reason = message.split("\n", 1)[1] if "\n" in message else ""
        if not reason.strip():
            silent.append("%s.%s" % (case.get("classname"), case.get("name")))
    return silent


def main(results):
    junit = os.path.join(results, "ctest.xml")
    if not os.path.exists(junit):
        print("check_skips: no %s: did ctest run?" % junit, file=sys.stderr)
        return 2
    silent = ctest_silent_skips(junit)
    for path in sorted(glob.glob(os.path.join(results, "*.xml"))):
        if path != junit:
            silent += gtest_silent_skips(path)
    for name in silent:
        print("check_skips: %s was skipped without a reason" % name, file=sys.stderr)
    return 1 if silent else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
