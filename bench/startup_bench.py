#!/usr/bin/python3
"""Startup time and idle memory of zorvant against a bare Qt tray program (bare_tray).

Both run under Xvfb with the trayer tray host, alternating, RUNS times each:
  startup: from exec until the program's tray icon window is viewable;
  idle memory: VmRSS one second after that.
Prints the medians, then `startup_ratio: R` and `rss_ratio: R` (zorvant / bare), and exits
non-zero when zorvant is over its targets.

usage: startup_bench.py --zorvant PATH --bare PATH
"""
import argparse
import ctypes
import os
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

RUNS = 7
STARTUP_TARGET = 1.25
RSS_TARGET = 1.15
WM_CLASS, STRING = 67, 31  # predefined atoms
_libc = ctypes.CDLL("libc.so.6")


def spawn(argv, **options):
    # Should this script be killed outright, nothing it started outlives it.
    return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=lambda: _libc.prctl(1, 9),
                            **options)  # PR_SET_PDEATHSIG, SIGKILL


class XClient:
    """Just enough of the X protocol to find viewable windows by class, with no process
    spawned per look: the poll costs both programs the same, and little."""

    def __init__(self, display):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect("/tmp/.X11-unix/X%d" % display)
        self.sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
        head = self.read(8)
        if head[0] != 1:
            raise RuntimeError("X server refused the connection")
        setup = self.read(struct.unpack_from("<H", head, 6)[0] * 4)
        vendor_length, formats = struct.unpack_from("<H", setup, 16)[0], setup[21]
        screens = 32 + (vendor_length + 3) // 4 * 4 + 8 * formats
        self.root = struct.unpack_from("<I", setup, screens)[0]

    def read(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise RuntimeError("X server closed the connection")
            data += chunk
        return data

    def request(self, opcode, detail, body):
        self.sock.sendall(struct.pack("<BBH", opcode, detail, 1 + len(body) // 4) + body)
        reply = self.read(32)
        if reply[0] == 0:  # an error: the window went away meanwhile
            return None
        return reply + self.read(struct.unpack_from("<I", reply, 4)[0] * 4)

    def children(self, window):
        reply = self.request(15, 0, struct.pack("<I", window))  # QueryTree
        count = struct.unpack_from("<H", reply, 16)[0] if reply else 0
        return struct.unpack_from("<%dI" % count, reply, 32) if count else ()

    def viewable(self, window):
        reply = self.request(3, 0, struct.pack("<I", window))  # GetWindowAttributes
        return bool(reply) and reply[26] == 2

    def wm_class(self, window):
        reply = self.request(20, 0, struct.pack("<IIIII", window, WM_CLASS, STRING, 0, 64))
        if not reply or reply[1] != 8:
            return []
        length = struct.unpack_from("<I", reply, 16)[0]
        return reply[32:32 + length].split(b"\0")

    def selection_owner(self, name):
        padded = name + b"\0" * (-len(name) % 4)
        atom = self.request(16, 0, struct.pack("<HH", len(name), 0) + padded)  # InternAtom
        reply = self.request(23, 0, atom[8:12])  # GetSelectionOwner
        return struct.unpack_from("<I", reply, 8)[0]

    def visible_with_class(self, name):
        pending = list(self.children(self.root))
        while pending:
            window = pending.pop()
            if name in self.wm_class(window) and self.viewable(window):
                return True
            pending.extend(self.children(window))
        return False


def start_desktop(work):
    read_end, write_end = os.pipe()
    xvfb = spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                  "-nolisten", "tcp"], pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        if not select.select([read_end], [], [], 30)[0]:
            raise RuntimeError("Xvfb did not start")
        chunk = os.read(read_end, 32)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read_end)
    display = int(number)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("DISPLAY", "WAYLAND", "QT_", "DBUS_", "XDG_"))}
    env.update(DISPLAY=":%d" % display, HOME=work, DBUS_SESSION_BUS_ADDRESS="disabled:",
               QT_QPA_PLATFORM="xcb")
    trayer = spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                    "--height", "28", "--transparent", "false", "--tint", "0x333333"], env=env)
    return [trayer, xvfb], env, XClient(display)


def wait_until(condition, timeout):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError("timed out")
        time.sleep(0.002)


def measure(binary, wm_class, env, x, work, run):
    """One launch: (seconds until the icon is viewable, VmRSS in kB one second later)."""
    folder = tempfile.mkdtemp(prefix="run%d-" % run, dir=work)
    os.makedirs(os.path.join(folder, "runtime"), mode=0o700)
    env = dict(env, XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_RUNTIME_DIR=os.path.join(folder, "runtime"))
    start = time.monotonic()
    process = spawn([binary], env=env)
    try:
        wait_until(lambda: x.visible_with_class(wm_class), 60)
        startup = time.monotonic() - start
        time.sleep(1)
        with open("/proc/%d/status" % process.pid) as status:
            rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    # The next launch of the same program must not find this one's icon.
    wait_until(lambda: not x.visible_with_class(wm_class), 30)
    return startup, rss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zorvant", required=True)
    parser.add_argument("--bare", required=True)
    args = parser.parse_args()
    programs = {"zorvant": (os.path.abspath(args.zorvant), b"zorvant"),
                "bare": (os.path.abspath(args.bare), b"bare_tray")}

    work = tempfile.mkdtemp(prefix="zorvant-bench-")
    processes = []
    try:
        processes, env, x = start_desktop(work)
        wait_until(lambda: x.selection_owner(b"_NET_SYSTEM_TRAY_S0"), 30)
        samples = {name: [] for name in programs}
        # One round first that is not counted, so that every counted one starts warm.
        for run in range(-1, RUNS):
            # Alternate which goes first, so that neither always runs on a warmer machine.
            order = ["zorvant", "bare"] if run % 2 == 0 else ["bare", "zorvant"]
            for name in order:
                binary, wm_class = programs[name]
                sample = measure(binary, wm_class, env, x, work, run + 1)
                if run >= 0:
                    samples[name].append(sample)
    finally:
        for process in processes:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(work, ignore_errors=True)

    medians = {}
    for name, runs in samples.items():
        startups, rss = [s for s, _ in runs], [r for _, r in runs]
        medians[name] = (statistics.median(startups), statistics.median(rss))
        print("%-8s startup ms %s median %.1f; RSS kB %s median %d" % (
            name, " ".join("%.0f" % (s * 1000) for s in startups), medians[name][0] * 1000,
            " ".join(str(r) for r in rss), medians[name][1]))
    startup_ratio = medians["zorvant"][0] / medians["bare"][0]
    rss_ratio = medians["zorvant"][1] / medians["bare"][1]
    print("startup_ratio: %.3f" % startup_ratio)
    print("rss_ratio: %.3f" % rss_ratio)
    return 0 if startup_ratio <= STARTUP_TARGET and rss_ratio <= RSS_TARGET else 1


if __name__ == "__main__":
    sys.exit(main())
