# Keyboard and pointer input into KWin through its org_kde_kwin_fake_input Wayland protocol: a
# bare Wayland client over the wire protocol, so that the tests need no compiled helper. The
# request numbers come from the protocol's own description.
import os
import socket
import struct
import xml.etree.ElementTree

PROTOCOL = "/usr/share/plasma-wayland-protocols/fake-input.xml"
INTERFACE = "org_kde_kwin_fake_input"
DISPLAY_ID = 1
# The core protocol's numbers, fixed since Wayland 1.0.
DISPLAY_SYNC, DISPLAY_GET_REGISTRY, REGISTRY_BIND = 0, 1, 0
DISPLAY_ERROR, REGISTRY_GLOBAL, CALLBACK_DONE = 0, 0, 0

# Linux input event codes.
KEYS = {**{str(digit): 2 + (digit - 1) % 10 for digit in range(10)},
        "Return": 28, "Escape": 1, "Tab": 15, "BackSpace": 14, "Control_L": 29, "Shift_L": 42,
        "Alt_L": 56, "a": 30, "d": 32}
BUTTON_LEFT = 0x110


def _string(text):
    data = text.encode() + b"\0"
    return struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)


def _fixed(value):
    return struct.pack("=i", round(value * 256))


class FakeInput:
    def __init__(self, runtime_dir, wayland_display):
        tree = xml.etree.ElementTree.parse(PROTOCOL)
        requests = tree.find("interface[@name='%s']" % INTERFACE).findall("request")
        self.opcodes = {request.get("name"): index for index, request in enumerate(requests)}
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.connect(os.path.join(runtime_dir, wayland_display))
        self.buffer, self.next_id, self.globals = b"", 2, {}
        self.registry = self._new_id()
        self._send(DISPLAY_ID, DISPLAY_GET_REGISTRY, struct.pack("=I", self.registry))
        self.roundtrip()
        name, version = self.globals.get(INTERFACE, (None, 0))
        if name is None:
            raise RuntimeError("KWin does not offer %s to this program" % INTERFACE)
        self.device, self.version = self._new_id(), min(version, 4)
        self._send(self.registry, REGISTRY_BIND, struct.pack("=I", name) + _string(INTERFACE)
                   + struct.pack("=II", self.version, self.device))
        self._request("authenticate", _string("Zorvant end-to-end tests") + _string("tests"))
        self.roundtrip()

    def _new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def _send(self, obj, opcode, payload=b""):
        self.socket.sendall(struct.pack("=II", obj, (8 + len(payload)) << 16 | opcode) + payload)

    def _request(self, name, payload=b""):
        self._send(self.device, self.opcodes[name], payload)

    def roundtrip(self):
        # Everything sent so far has been handled once the compositor answers a sync.
        callback = self._new_id()
        self._send(DISPLAY_ID, DISPLAY_SYNC, struct.pack("=I", callback))
        while True:
            while len(self.buffer) < 8 or len(self.buffer) < (struct.unpack_from(
                    "=I", self.buffer, 4)[0] >> 16):
                data = self.socket.recv(65536)
                if not data:
                    raise RuntimeError("KWin closed the fake input connection")
                self.buffer += data
            obj, word = struct.unpack_from("=II", self.buffer)
            size, opcode = word >> 16, word & 0xFFFF
            body, self.buffer = self.buffer[8:size], self.buffer[size:]
            if obj == DISPLAY_ID and opcode == DISPLAY_ERROR:
                length = struct.unpack_from("=I", body, 8)[0]
                raise RuntimeError("Wayland error: " + body[12:12 + length - 1].decode())
            if obj == self.registry and opcode == REGISTRY_GLOBAL:
                name, length = struct.unpack_from("=II", body)
                interface = body[8:8 + length - 1].decode()
                version = struct.unpack_from("=I", body, 8 + length + (-length % 4))[0]
                self.globals[interface] = (name, version)
            if obj == callback and opcode == CALLBACK_DONE:
                return

    def key(self, name, pressed):
        self._request("keyboard_key", struct.pack("=II", KEYS[name], 1 if pressed else 0))

    def press(self, *names):
        # Each name a key, or keys joined by "+" held together ("Control_L+a").
        for combination in names:
            keys = combination.split("+")
            for key in keys:
                self.key(key, True)
            for key in reversed(keys):
                self.key(key, False)
        self.roundtrip()

    def type(self, text):
        self.press(*text)

    def click(self, x, y):
        self._request("pointer_motion_absolute", _fixed(x) + _fixed(y))
        self._request("button", struct.pack("=II", BUTTON_LEFT, 1))
        self._request("button", struct.pack("=II", BUTTON_LEFT, 0))
        self.roundtrip()

    def close(self):
        self.socket.close()
