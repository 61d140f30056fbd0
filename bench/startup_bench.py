#!/usr/bin/python3
"""Startup time and idle memory of zorvant against a bare Qt tray program (bare_tray).

Both run under Xvfb with the trayer tray host, one after the other in each of RUNS rounds
(which goes first alternates):
  startup: from exec until the program's tray icon window is viewable;
  idle memory: RSS (VmRSS) and USS (private pages) one second after that.
Each round gives one ratio per measure (zorvant / bare, measured side by side), which keeps
them steady on a loaded machine. Prints `startup_ratio: R`, `rss_ratio: R` and `uss_ratio: R`,
each the median of its round ratios with their interquartile range beside it, and exits
non-zero when zorvant is over a target.

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

RUNS = 25
TARGETS = {"startup_ratio": 1.25, "rss_ratio": 1.15, "uss_ratio": 1.15}
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
        self.min_keycode, self.max_keycode = setup[26], setup[27]
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
                  "-nolisten", "tcp", "-nolisten", "local"], pass_fds=(write_end,))
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


def quartiles(values):
    """The median and the interquartile range of at least two values."""
    q1, median, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return median, q1, q3


def ratio_line(name, ratios, detail=""):
    median, q1, q3 = quartiles(ratios)
    return "%s: %.3f  (IQR %.3f-%.3f over %d rounds%s)" % (name, median, q1, q3, len(ratios),
                                                          detail)


def memory(pid):
    """(RSS, USS) of a process in kB."""
    with open("/proc/%d/smaps_rollup" % pid) as rollup:
        fields = {line.split(":")[0]: int(line.split()[1]) for line in rollup
                  if line.split()[-1] == "kB"}
    return fields["Rss"], fields["Private_Clean"] + fields["Private_Dirty"]


def measure(argv, wm_class, env, x, work, run):
    """One launch: (seconds until the icon is viewable, RSS, USS in kB one second later)."""
    folder = tempfile.mkdtemp(prefix="run%d-" % run, dir=work)
    os.makedirs(os.path.join(folder, "runtime"), mode=0o700)
    env = dict(env, XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_RUNTIME_DIR=os.path.join(folder, "runtime"))
    start = time.monotonic()
    process = spawn(argv, env=env)
    try:
        wait_until(lambda: x.visible_with_class(wm_class), 60)
        startup = time.monotonic() - start
        time.sleep(1)
        rss, uss = memory(process.pid)
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    # The next launch of the same program must not find this one's icon.
    wait_until(lambda: not x.visible_with_class(wm_class), 30)
    return startup, rss, uss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zorvant", required=True)
    parser.add_argument("--bare", required=True)
    args = parser.parse_args()
    # Zorvant as the login starts it: the icon alone, without the panel that a launch by the
    # user shows.
    programs = {"zorvant": ([os.path.abspath(args.zorvant), "--background"], b"zorvant"),
                "bare": ([os.path.abspath(args.bare)], b"bare_tray")}

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
                argv, wm_class = programs[name]
                sample = measure(argv, wm_class, env, x, work, run + 1)
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

    ratios = {name: [z / b for z, b in zip((r[i] for r in samples["zorvant"]),
                                             (r[i] for r in samples["bare"]))]
              for i, name in enumerate(TARGETS)}
    for name, runs in samples.items():
        startup, _, _ = quartiles([r[0] * 1000 for r in runs])
        rss, _, _ = quartiles([r[1] for r in runs])
        uss, _, _ = quartiles([r[2] for r in runs])
        print("%-8s startup median %.1f ms, RSS median %d kB, USS median %d kB"
              % (name, startup, rss, uss))
    for name, values in ratios.items():
        print(ratio_line(name, values))
    return 0 if all(quartiles(ratios[name])[0] <= target
                    for name, target in TARGETS.items()) else 1


if __name__ == "__main__":
    sys.exit(main())
