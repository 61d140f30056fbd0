#!/usr/bin/python3
"""The hotkey and the Return key of a running zorvant, each against the least it could cost.

Under Xvfb with the trayer tray host, zorvant runs as the user's instance, with a root folder
chosen. In each of ROUNDS rounds, one after the other (which goes first alternates):
  hotkey: from the exec of a later `zorvant` until the running instance's panel is mapped
          (MapNotify), against the same for reopen_client, a small C program that sends the
          same request; the panel's own mapping is in both;
  return: from Return in the panel's number field until the first instruction of the
          stand-in opener that zorvant starts as xdg-open, against the bench spawning the
          same stand-in itself.
Prints `hotkey_ratio: R` and `return_ratio: R`, each the median of the round ratios with their
interquartile range beside it, and exits non-zero when a ratio is over its target.

usage: hotkey_bench.py --zorvant PATH --client PATH --stand-in PATH --settings PATH
"""
import argparse
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from startup_bench import XClient, quartiles, ratio_line, spawn, start_desktop, wait_until

ROUNDS = 31
WARM_UP = 3
# The pause after each measurement, so that the next one finds zorvant idle again, not still
# writing its recents or repainting after the one before.
SETTLE = 0.3
TARGETS = {"hotkey_ratio": 4.0, "return_ratio": 2.0}
DOCKET = "12345"
KEYSYMS = {"Return": 0xFF0D, "Escape": 0xFF1B, **{d: ord(d) for d in "0123456789"}}
MAP_NOTIFY, UNMAP_NOTIFY = 19, 18


class XEvents(XClient):
    """One X connection that watches the root window's children being mapped and unmapped,
    and types through the XTEST extension."""

    def __init__(self, display):
        super().__init__(display)
        self.events = []
        # SubstructureNotify on the root: MapNotify and UnmapNotify of top-level windows.
        self.send(2, 0, struct.pack("<III", self.root, 0x800, 1 << 19))  # ChangeWindowAttributes
        name = b"XTEST"
        reply = self.request(98, 0, struct.pack("<HH", len(name), 0) + name + b"\0" * 3)
        if not reply[8]:
            raise RuntimeError("the X server has no XTEST")
        self.xtest = reply[9]
        self.keycodes = self.find_keycodes()

    def send(self, opcode, detail, body):
        self.sock.sendall(struct.pack("<BBH", opcode, detail, 1 + len(body) // 4) + body)

    def packet(self):
        packet = self.read(32)
        if packet[0] == 1:
            return packet + self.read(struct.unpack_from("<I", packet, 4)[0] * 4)
        return packet

    def request(self, opcode, detail, body):
        self.send(opcode, detail, body)
        while True:
            packet = self.packet()
            if packet[0] == 1:
                return packet
            if packet[0] == 0:
                raise RuntimeError("X error %d" % packet[1])
            self.events.append(packet)

    def find_keycodes(self):
        count = self.max_keycode - self.min_keycode + 1
        reply = self.request(101, 0, struct.pack("<BBxx", self.min_keycode, count))
        per_keycode = reply[1]
        keysyms = struct.unpack_from("<%dI" % (count * per_keycode), reply, 32)
        found = {}
        for name, keysym in KEYSYMS.items():
            index = keysyms.index(keysym)
            found[name] = self.min_keycode + index // per_keycode
        return found

    def sync(self):
        return struct.unpack_from("<I", self.request(43, 0, b""), 8)[0]  # GetInputFocus

    def key(self, name):
        for event_type in (2, 3):  # press, release
            self.send(self.xtest, 2, struct.pack("<BBxxIIxxxxxxxxHHxxxxxxxB", event_type,
                                                 self.keycodes[name], 0, 0, 0, 0, 0))
        self.sync()

    def next_event(self, kind, timeout=30.0):
        """The window of the next event of that kind, and the time it was read."""
        deadline = time.monotonic() + timeout
        while True:
            while self.events:
                packet = self.events.pop(0)
                if packet[0] & 0x7F == kind:
                    return struct.unpack_from("<I", packet, 8)[0], time.monotonic()
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                raise RuntimeError("timed out waiting for X event %d" % kind)
            packet = self.packet()
            if packet[0] == 0:
                raise RuntimeError("X error %d" % packet[1])
            if packet[0] != 1:
                self.events.append(packet)


def posix_spawn(argv, env):
    return os.posix_spawn(argv[0], argv, env)


def reap(pid):
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s exited with %d" % (pid, os.waitstatus_to_exitcode(status)))


class Bench:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.processes, env, self.x = start_desktop(work)
        wait_until(lambda: self.x.selection_owner(b"_NET_SYSTEM_TRAY_S0"), 30)
        self.events = XEvents(int(env["DISPLAY"][1:]))
        root = os.path.join(work, "dockets")
        os.makedirs(os.path.join(root, "a-123", DOCKET + " Smith v Jones"))
        for folder in ("run", "bin", "config/Zorvant"):
            os.makedirs(os.path.join(work, folder), mode=0o700)
        os.symlink(os.path.abspath(args.stand_in), os.path.join(work, "bin", "xdg-open"))
        subprocess.run([args.settings, os.path.join(work, "config/Zorvant/Zorvant.ini"), root],
                       check=True)
        # The stand-in writes its stamps into a FIFO that the bench sleeps on, so that no
        # polling of the bench's own competes with what it times.
        stamps = os.path.join(work, "stamps")
        os.mkfifo(stamps, 0o600)
        self.stamps, self.stamp_buffer = os.open(stamps, os.O_RDWR | os.O_CLOEXEC), b""
        self.env = dict(env, XDG_RUNTIME_DIR=os.path.join(work, "run"),
                        XDG_CONFIG_HOME=os.path.join(work, "config"),
                        PATH=os.path.join(work, "bin") + ":" + env["PATH"],
                        ZORVANT_BENCH_STAMPS=stamps)
        self.processes.insert(0, spawn([args.zorvant, "--background"], env=self.env))
        wait_until(lambda: self.x.visible_with_class(b"zorvant"), 60)
        self.panel = None

    def show(self, argv):
        """Seconds from the exec of argv to the panel's MapNotify."""
        start = time.monotonic()
        pid = posix_spawn(argv, self.env)
        while True:
            window, mapped = self.events.next_event(MAP_NOTIFY)
            if self.panel in (None, window):
                break
        self.panel = window
        reap(pid)
        return mapped - start

    def hide(self):
        # Escape closes the panel once it has the keyboard, as it does after every reopen.
        wait_until(lambda: self.events.sync() == self.panel, 30)
        self.events.key("Escape")
        while self.events.next_event(UNMAP_NOTIFY)[0] != self.panel:
            pass

    def next_stamp(self, timeout=30.0):
        """The stand-in's next time stamp, in seconds on the monotonic clock."""
        while b"\n" not in self.stamp_buffer:
            if not select.select([self.stamps], [], [], timeout)[0]:
                raise RuntimeError("timed out waiting for the stand-in opener")
            self.stamp_buffer += os.read(self.stamps, 4096)
        line, self.stamp_buffer = self.stamp_buffer.split(b"\n", 1)
        return int(line) / 1e9

    def press_return(self):
        start = time.monotonic()
        self.events.key("Return")
        return self.next_stamp() - start

    def spawn_stand_in(self):
        start = time.monotonic()
        pid = posix_spawn([os.path.abspath(self.args.stand_in), self.work], self.env)
        delay = self.next_stamp() - start
        reap(pid)
        return delay

    def rounds(self, first, second):
        samples = ([], [])
        for run in range(-WARM_UP, ROUNDS):
            order = (0, 1) if run % 2 == 0 else (1, 0)
            measured = [None, None]
            for side in order:
                measured[side] = (first, second)[side]()
                time.sleep(SETTLE)
            if run >= 0:
                for side in (0, 1):
                    samples[side].append(measured[side])
        return samples

    def run(self):
        def hotkey_round(argv):
            delay = self.show(argv)
            self.hide()
            return delay

        zorvant, client = [self.args.zorvant], [os.path.abspath(self.args.client)]
        hotkey = self.rounds(lambda: hotkey_round(zorvant), lambda: hotkey_round(client))
        self.show(client)
        wait_until(lambda: self.events.sync() == self.panel, 30)
        for digit in DOCKET:
            self.events.key(digit)
        returns = self.rounds(self.press_return, self.spawn_stand_in)
        return hotkey, returns

    def close(self):
        for process in self.processes:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--zorvant", "--client", "--stand-in", "--settings"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    args.zorvant = os.path.abspath(args.zorvant)
    work = tempfile.mkdtemp(prefix="zorvant-hotkey-bench-")
    bench = None
    try:
        bench = Bench(args, work)
        lines = {}
        for name, (zorvant, baseline) in zip(TARGETS, bench.run()):
            ratios = [z / b for z, b in zip(zorvant, baseline)]
            z, zq1, zq3 = quartiles([t * 1000 for t in zorvant])
            b, bq1, bq3 = quartiles([t * 1000 for t in baseline])
            lines[name] = quartiles(ratios)[0]
            print(ratio_line(name, ratios, "; zorvant %.2f ms (%.2f-%.2f), baseline %.2f ms "
                                           "(%.2f-%.2f)" % (z, zq1, zq3, b, bq1, bq3)))
    finally:
        if bench:
            bench.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0 if all(lines[name] <= target for name, target in TARGETS.items()) else 1


if __name__ == "__main__":
    sys.exit(main())
