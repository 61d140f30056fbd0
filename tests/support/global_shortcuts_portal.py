#!/usr/bin/python3
# The desktop portal's GlobalShortcuts on the session bus ($DBUS_SESSION_BUS_ADDRESS), as
# xdg-desktop-portal offers it on Plasma: sessions, binding, listing and the Activated signal,
# each method answering through a Request object whose Response comes after the method has
# returned. The "dialog" answers as the test says, through the test-only interface
# org.zorvant.test.PortalControl at /control, which also tells what the portal was asked.
# It runs until it is stopped.
#
# It binds the documented way (BindShortcuts shows the dialog, which binds) or, after the control's
# BehaveAsPlasma, as Plasma 5.27 does: a session's shortcuts are those of CreateSession's
# "shortcuts" option, kept per session token across sessions and runs (Plasma's shortcut
# component); a shortcut new to the token gets its preferred trigger at once, one the token knows
# keeps its key, even none; BindShortcuts only opens the desktop's settings page, where the user
# may set a key (SetKeyInSettings).
#
# usage: global_shortcuts_portal.py [--without-global-shortcuts] [--bound ID=TRIGGER]...
#   --without-global-shortcuts  a portal from before the interface: it has no such interface
#   --bound ID=TRIGGER          a shortcut the user bound in an earlier run
import json
import signal
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
CONTROL = "org.zorvant.test.PortalControl"
PROPERTIES = "org.freedesktop.DBus.Properties"
SUCCESS, CANCELLED, OTHER = 0, 1, 2


def plain(value):
    """A D-Bus value as JSON can hold it."""
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Boolean, bool)):
        return bool(value)
    if isinstance(value, (int, dbus.Byte, dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64)):
        return int(value)
    return str(value)


def described(trigger):
    # "CTRL+ALT+d" as Plasma describes it: "Ctrl+Alt+D".
    names = {"CTRL": "Ctrl", "ALT": "Alt", "SHIFT": "Shift", "LOGO": "Meta"}
    return "+".join(names.get(part, part.upper()) for part in trigger.split("+")) if trigger else ""


def element(sender):
    # ":1.42" names its objects "1_42".
    return sender.lstrip(":").replace(".", "_")


class Request(dbus.service.Object):
    """One call's Request object: it lives until it has sent its Response."""

    def __init__(self, bus, path):
        super().__init__(bus, path)
        self.path = path

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method(REQUEST)
    def Close(self):
        self.remove_from_connection()

    def answer(self, response, results):
        self.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
        self.remove_from_connection()

    def answer_after_return(self, response, results):
        # The method's reply goes out when the handler returns; the Response follows it.
        def answer():
            self.answer(response, results)
            return False
        GLib.idle_add(answer)


class Session(dbus.service.Object):
    def __init__(self, portal, path, owner):
        super().__init__(portal.bus, path)
        self.portal, self.path, self.owner = portal, path, owner
        # Plasma's way: the component it belongs to, and the shortcuts it registered there.
        self.token, self.ids = "", []

    @dbus.service.method(SESSION, sender_keyword="sender")
    def Close(self, sender):
        self.portal.calls.append({"method": "Close", "sender": sender, "session": self.path})
        self.end()

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass

    def end(self):
        del self.portal.sessions[self.path]
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus, with_shortcuts, bound):
        super().__init__(bus, PORTAL_PATH)
        self.bus, self.with_shortcuts = bus, with_shortcuts
        self.sessions = {}
        self.reset()
        self.bound.update(bound)

    def reset(self):
        for session in list(self.sessions.values()):
            session.end()
        # The app's shortcuts as the desktop keeps them across sessions and runs: id -> trigger.
        self.bound, self.calls, self.held = {}, [], []
        # Plasma's way: session token -> {id: trigger}; "" is a shortcut the token knows with no key.
        self.plasma, self.components = False, {}
        self.hold_lists, self.held_lists = False, []
        self.bind_answer = (SUCCESS, "Ctrl+Alt+D", False)

    def check(self):
        if not self.with_shortcuts:
            raise dbus.exceptions.DBusException(
                "No such interface", name="org.freedesktop.DBus.Error.UnknownMethod")

    def request(self, sender, options):
        token = str(options.get("handle_token", "t%d" % len(self.calls)))
        return Request(self.bus, "%s/request/%s/%s" % (PORTAL_PATH, element(sender), token))

    def session_of(self, sender, handle):
        session = self.sessions.get(str(handle))
        if session is None or session.owner != sender:
            raise dbus.exceptions.DBusException(
                "Invalid session", name="org.freedesktop.portal.Error.InvalidArgument")
        return session

    def listed(self, session=None):
        if self.plasma:
            keys = self.components.get(session.token, {}) if session else {}
            shown = {i: keys[i] for i in session.ids} if session else {}
        else:
            shown = self.bound
        return dbus.Array([(i, {"description": "", "trigger_description": t})
                           for i, t in shown.items()], signature="(sa{sv})")

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.check()
        token = str(options.get("session_handle_token", "s%d" % len(self.calls)))
        path = "%s/session/%s/%s" % (PORTAL_PATH, element(sender), token)
        session = Session(self, path, sender)
        self.sessions[path] = session
        self.calls.append({"method": "CreateSession", "sender": sender, "session": path,
                           "options": plain(options)})
        session.token, session.ids = token, []
        results = {"session_handle": path}
        if self.plasma:
            keys = self.components.setdefault(token, {})
            for shortcut_id, properties in options.get("shortcuts", []):
                shortcut_id = str(shortcut_id)
                session.ids.append(shortcut_id)
                if shortcut_id not in keys:
                    keys[shortcut_id] = described(str(properties.get("preferred_trigger", "")))
            results["shortcuts"] = self.listed(session)
        request = self.request(sender, options)
        request.answer_after_return(SUCCESS, results)
        return request.path

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
        self.check()
        opened = self.session_of(sender, session)
        self.calls.append({"method": "BindShortcuts", "sender": sender, "session": str(session),
                           "shortcuts": plain(shortcuts), "parent_window": str(parent_window),
                           "options": plain(options)})
        request = self.request(sender, options)
        if self.plasma:
            # The settings page opens; the answer is what the session has now.
            request.answer_after_return(SUCCESS, {"shortcuts": self.listed(opened)})
            return request.path
        ids = [str(shortcut[0]) for shortcut in shortcuts]
        response, trigger, hold = self.bind_answer
        if hold:
            self.held.append((request, ids))
        else:
            request.answer_after_return(response, self.bind(ids, response, trigger))
        return request.path

    def bind(self, ids, response, trigger):
        if response != SUCCESS:
            return {}
        for shortcut_id in ids:
            self.bound[shortcut_id] = trigger
        return {"shortcuts": self.listed()}

    @dbus.service.method(SHORTCUTS, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def ListShortcuts(self, session, options, sender):
        self.check()
        listing = self.session_of(sender, session)
        self.calls.append({"method": "ListShortcuts", "sender": sender, "session": str(session),
                           "options": plain(options)})
        request = self.request(sender, options)
        if self.hold_lists:
            # Answered later, with the shortcuts as they are now.
            self.held_lists.append((request, self.listed(listing)))
        else:
            request.answer_after_return(SUCCESS, {"shortcuts": self.listed(listing)})
        return request.path

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        self.calls.append({"method": "Get", "interface": str(interface), "name": str(name)})
        if interface != SHORTCUTS or not self.with_shortcuts:
            raise dbus.exceptions.DBusException(
                "No such interface", name="org.freedesktop.DBus.Error.InvalidArgs")
        if name != "version":
            raise dbus.exceptions.DBusException(
                "No such property", name="org.freedesktop.DBus.Error.InvalidArgs")
        return dbus.UInt32(1)


class Control(dbus.service.Object):
    def __init__(self, bus, portal):
        super().__init__(bus, "/control")
        self.portal = portal

    @dbus.service.method(CONTROL)
    def Reset(self):
        """As a fresh portal: no sessions, no bindings, no calls, binds answered at once."""
        self.portal.reset()

    @dbus.service.method(CONTROL, in_signature="ss")
    def RememberBinding(self, shortcut_id, trigger):
        """A shortcut the user bound in an earlier run."""
        self.portal.bound[str(shortcut_id)] = str(trigger)

    @dbus.service.method(CONTROL, out_signature="s")
    def Calls(self):
        """Every call the portal took, in order, as a JSON list."""
        return json.dumps(self.portal.calls)

    @dbus.service.method(CONTROL, out_signature="as")
    def Sessions(self):
        return dbus.Array(sorted(self.portal.sessions), signature="s")

    @dbus.service.method(CONTROL)
    def BehaveAsPlasma(self):
        """Plasma 5.27's way of binding, until Reset."""
        self.portal.plasma = True

    @dbus.service.method(CONTROL, in_signature="sss")
    def SetKeyInSettings(self, token, shortcut_id, trigger):
        """The user sets a key on Plasma's settings page; open sessions have it at once."""
        self.portal.components.setdefault(str(token), {})[str(shortcut_id)] = str(trigger)

    @dbus.service.method(CONTROL, out_signature="s")
    def Components(self):
        """Plasma's keys per session token, as a JSON object."""
        return json.dumps(self.portal.components)

    @dbus.service.method(CONTROL, in_signature="usb")
    def SetBindAnswer(self, response, trigger, hold):
        """How the dialog of the next binds ends; held ones wait for AnswerHeldBind."""
        self.portal.bind_answer = (int(response), str(trigger), bool(hold))

    @dbus.service.method(CONTROL, in_signature="uus")
    def AnswerHeldBind(self, index, response, trigger):
        request, ids = self.portal.held[index]
        request.answer(response, self.portal.bind(ids, response, trigger))

    @dbus.service.method(CONTROL, in_signature="b")
    def HoldLists(self, hold):
        """Whether ListShortcuts from now on waits for AnswerHeldLists."""
        self.portal.hold_lists = bool(hold)

    @dbus.service.method(CONTROL)
    def AnswerHeldLists(self):
        for request, listed in self.portal.held_lists:
            request.answer(SUCCESS, {"shortcuts": listed})
        self.portal.held_lists = []

    @dbus.service.method(CONTROL, in_signature="ssts")
    def Activate(self, session, shortcut_id, timestamp, token):
        options = {"activation_token": token} if token else {}
        self.portal.Activated(dbus.ObjectPath(session), shortcut_id, dbus.UInt64(timestamp),
                              dbus.Dictionary(options, signature="sv"))

    @dbus.service.method(CONTROL, in_signature="s")
    def CloseSession(self, path):
        """The desktop ends a session on its own."""
        session = self.portal.sessions[path]
        session.Closed(dbus.Dictionary({}, signature="sv"))
        session.end()


def main(*arguments):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    bound = [a.split("=", 1) for a, flag in zip(arguments[1:], arguments) if flag == "--bound"]
    portal = Portal(bus, "--without-global-shortcuts" not in arguments, bound)
    control = Control(bus, portal)
    # The name last, once the objects answer.
    name = dbus.service.BusName(PORTAL, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    print("ready", flush=True)
    loop.run()


if __name__ == "__main__":
    main(*sys.argv[1:])
