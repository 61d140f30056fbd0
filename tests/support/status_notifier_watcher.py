#!/usr/bin/python3
# A StatusNotifierWatcher on the session bus ($DBUS_SESSION_BUS_ADDRESS), as a desktop's tray
# runs one, with a host registered unless --no-host: enough for a tray program to register its
# item, and for a test to find the item and click it. It runs until it is stopped.
#
# usage: status_notifier_watcher.py [--no-host]
import signal
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Watcher(dbus.service.Object):
    def __init__(self, bus, host):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items, self.host = [], host
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        # A bus name, or an object path on the caller's own connection.
        item = sender + service if service.startswith("/") else service
        if item not in self.items:
            self.items.append(item)
        self.StatusNotifierItemRegistered(item)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.host = True
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER)
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(self.host),
                "ProtocolVersion": dbus.Int32(0)}

    # Programs read the properties through the introspection data too (Qt does, to decide
    # whether a tray is there); dbus-python leaves them out of it.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s", path_keyword="path",
                         connection_keyword="connection")
    def Introspect(self, path, connection):
        properties = "".join('<property name="%s" type="%s" access="read"/>' % pair for pair in (
            ("RegisteredStatusNotifierItems", "as"), ("IsStatusNotifierHostRegistered", "b"),
            ("ProtocolVersion", "i")))
        interface = '<interface name="%s">' % WATCHER
        return super().Introspect(path, connection).replace(interface, interface + properties)

    def owner_changed(self, name, old_owner, new_owner):
        # An item goes with the connection that owned its name.
        for item in [i for i in self.items if not new_owner and i.split("/")[0] == name]:
            self.items.remove(item)
            self.StatusNotifierItemUnregistered(item)


def main(*options):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus, "--no-host" not in options)
    # The name last, once the object answers.
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    print("watching", flush=True)
    loop.run()


if __name__ == "__main__":
    main(*sys.argv[1:])
