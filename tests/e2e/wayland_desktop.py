# What the GNOME and KWin end-to-end tests share: a desktop started by its own start-up script,
# Zorvant launched into it, and the panel's number field read back through AT-SPI.
import os
import shlex
import shutil
import signal
import sys
import tempfile
import traceback

from zorvant_e2e import SANITIZER_REPORTS, check, spawn_group, stop_group, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
FIELD = "Enter folder number"


def wait_for_value(what, probe, accept, timeout=30.0):
    # Polls probe() until accept(value) holds and answers the value; a failure tells what was
    # last seen.
    seen = []

    def accepted():
        seen[:] = [probe()]
        return accept(seen[0])
    try:
        wait_for(what, accepted, timeout)
    except AssertionError as failure:
        raise AssertionError("%s; last seen: %r" % (failure, seen[0] if seen else None))
    return seen[0]


def read_session_env(path):
    # The "export NAME=value" and "unset NAME" lines the start-up scripts write.
    values = {}
    with open(path) as file:
        for line in file:
            words = shlex.split(line)
            if words[:1] == ["export"]:
                name, _, value = words[1].partition("=")
                values[name] = value
            elif words[:1] == ["unset"]:
                values[words[1]] = None
    return values


# One desktop, its processes and Zorvant's. Every process runs in a group of its own, so that
# stopping it also stops what it spawned, and dies with this script should the script be killed.
class Desktop:
    def __init__(self, script, zorvant, screenshots, *script_options):
        self.work = tempfile.mkdtemp(prefix="zorvant-e2e-")
        self.script, self.script_options = script, script_options
        self.zorvant, self.screenshots, self.processes, self.launches = zorvant, screenshots, [], []
        shutil.rmtree(screenshots, ignore_errors=True)
        os.makedirs(screenshots)
        self.base_env = {k: v for k, v in os.environ.items()
                         if not k.startswith(("DISPLAY", "WAYLAND", "QT_", "DBUS_", "XDG_"))}

    def path(self, name):
        return os.path.join(self.work, name)

    def spawn(self, argv, log, env):
        process = spawn_group(argv, self.path(log), env)
        self.processes.append(process)
        return process

    def start(self):
        desktop = self.spawn([os.path.join(HERE, self.script), self.path("desktop"),
                              *self.script_options], "desktop.log", self.base_env)
        env_file = self.path("desktop/session.env")
        wait_for("the desktop to start", lambda: check(desktop.poll() is None, "the desktop "
                 "ended during start-up") or os.path.exists(env_file), 180)
        self.env = dict(self.base_env)
        for name, value in read_session_env(env_file).items():
            if value is None:
                self.env.pop(name, None)
            else:
                self.env[name] = value
        # The test process itself talks to the desktop's session bus (AT-SPI, the desktop's
        # own interfaces).
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        os.makedirs(self.path("cfg"))
        os.makedirs(self.path("bin"))
        with open(self.path("bin/xdg-open"), "w") as stand_in:
            stand_in.write("#!/bin/sh\nprintf '%s\\0' \"$@\" >> \"$(dirname \"$0\")/../opened\"\n")
        os.chmod(stand_in.name, 0o755)
        self.zorvant_env = dict(self.env, XDG_CONFIG_HOME=self.path("cfg"),
                                QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                                PATH=self.path("bin") + ":" + os.environ["PATH"])

    def launch(self, *arguments, **extra_env):
        log = "zorvant-%d.log" % len(self.launches)
        process = self.spawn([self.zorvant, *arguments], log, dict(self.zorvant_env, **extra_env))
        self.launches.append((process, log))
        return process

    def finish(self, process, sig=None):
        # The exit status of a second launch, or of the running instance once stopped by the
        # signal. A sanitizer report in the program's output fails the test.
        status = stop_group(process, sig) if sig else process.wait(60)
        log = next(log for launched, log in self.launches if launched is process)
        with open(self.path(log), "rb") as file:
            output = file.read()
        check(not any(report in output for report in SANITIZER_REPORTS),
              "sanitizer report from zorvant:\n" + output.decode(errors="replace"))
        return status

    def run_test(self, test):
        # Runs test(self) on the started desktop and stops every process afterwards; prints the
        # logs when it fails. The exit status of the whole run.
        signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
        try:
            self.start()
            test(self)
        except Exception as failure:
            # A desktop's own interface failing is as much a failure as a check.
            if not isinstance(failure, AssertionError):
                traceback.print_exc(file=sys.stdout)
            print("FAIL: %s\n(work folder %s, screenshots in %s)"
                  % (failure, self.work, self.screenshots))
            for folder in (self.work, self.path("desktop")):
                for log in sorted(n for n in os.listdir(folder) if n.endswith(".log")):
                    with open(os.path.join(folder, log), "rb") as file:
                        print("--- %s\n%s" % (log, file.read()[-20000:].decode(errors="replace")))
            return 1
        finally:
            for process in reversed(self.processes):
                stop_group(process)
        shutil.rmtree(self.work, ignore_errors=True)
        return 0


class Accessibility:
    # The panel read back through AT-SPI, on the desktop's session bus.
    def __init__(self):
        import pyatspi
        self.pyatspi = pyatspi

    def find_in_panel(self, role, name):
        # The first item with this role and name in a showing panel, at any depth, or None.
        pyatspi = self.pyatspi

        def find(node):
            for child in filter(None, map(node.getChildAtIndex, range(node.childCount))):
                if child.getRoleName() == role and child.name == name:
                    return child
                if (found := find(child)) is not None:
                    return found
            return None

        for app in pyatspi.Registry.getDesktop(0):
            for window in app or []:
                if window and window.name == "Dockets" and \
                        window.getState().contains(pyatspi.STATE_SHOWING):
                    if (found := find(window)) is not None:
                        return found
        return None

    def field(self):
        # The number field of a visible panel: (text, focused), or None.
        field = self.find_in_panel("text", FIELD)
        if field is None:
            return None
        return (field.queryText().getText(0, -1),
                field.getState().contains(self.pyatspi.STATE_FOCUSED))

    def windows(self):
        # What AT-SPI lists at the top of each program: (program, name, role, showing, children),
        # or the error that reading it met. For failures that find no field at all.
        seen = []
        try:
            for app in self.pyatspi.Registry.getDesktop(0):
                for window in filter(None, app or []):
                    seen.append((app.name, window.name, window.getRoleName(),
                                 window.getState().contains(self.pyatspi.STATE_SHOWING),
                                 window.childCount))
        except Exception as error:
            seen.append(repr(error))
        return seen

    def wait_for_field(self, what, condition, timeout=30.0):
        # Until condition(text, focused) holds for the number field.
        try:
            wait_for_value("the number field " + what + " (text, focused)", self.field,
                           lambda field: field is not None and condition(*field), timeout)
        except AssertionError as failure:
            raise AssertionError("%s; AT-SPI lists %r" % (failure, self.windows())) from None

    def type_into_field(self, type_keys, text, what=None):
        # Once the number field has the keyboard, types text there with type_keys(text) and
        # waits until the field reads that and nothing else.
        self.wait_for_field("focused", lambda seen, focused: focused)
        type_keys(text)
        self.wait_for_field(what or "focused, reading " + text,
                            lambda seen, focused: focused and seen == text)
