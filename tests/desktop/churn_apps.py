#!/usr/bin/python3
"""Applications that come and go on the accessibility bus, many a second.

Each application is a connection of its own to the accessibility bus that
embeds its root with the registry, as a toolkit does at start, so that an
accessibility client walking the desktop meets it. The root has no windows;
the cache of elements a client asks for when it first meets an application
holds the root and a few labels. The root's name is long, so that what a
client keeps of each application that has gone shows in its memory after
hundreds of them rather than thousands. Commands
on standard input, one per line:

    open N    registers N more applications; answers "opened"
    close     closes them all; answers "closed"

It writes "ready" once it has found the accessibility bus, and ends when its
standard input closes.
"""
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

ROOT = "/org/a11y/atspi/accessible/root"
CACHE = "/org/a11y/atspi/cache"
NODE = Gio.DBusNodeInfo.new_for_xml(
    '<node><interface name="org.a11y.atspi.Accessible">'
    '<property name="ChildCount" type="i" access="read"/>'
    '</interface><interface name="org.a11y.atspi.Cache">'
    '<method name="GetItems"><arg direction="out" type="a((so)(so)(so)iiassusau)"/></method>'
    "</interface></node>"
)
CACHED_LABELS = 10
ROOT_NAME = "churned application " + "x" * 16384
ROLE_APPLICATION = 75
ROLE_LABEL = 29


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def accessibility_bus_address():
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                              GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, -1, None)
    return reply.unpack()[0]


def on_method_call(connection, _sender, _path, _interface, method, _parameters, invocation):
    if method != "GetItems":
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", "no such method")
        return
    name = connection.get_unique_name()
    interfaces = ["org.a11y.atspi.Accessible"]
    root = ((name, ROOT), (name, ROOT), ("", "/org/a11y/atspi/null"), -1, 0, interfaces, ROOT_NAME,
            ROLE_APPLICATION, "", [0, 0])
    labels = [((name, "%s/%d" % (ROOT, index)), (name, ROOT), (name, ROOT), index, 0, interfaces,
               "label %d" % index, ROLE_LABEL, "", [0, 0])
              for index in range(CACHED_LABELS)]
    items = [root] + labels
    invocation.return_value(GLib.Variant("(a((so)(so)(so)iiassusau))", (items,)))


def on_get_property(_connection, _sender, _path, _interface, _name):
    return GLib.Variant("i", 0)


def open_application(address):
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    connection = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    connection.register_object(ROOT, NODE.interfaces[0], on_method_call, on_get_property, None)
    connection.register_object(CACHE, NODE.interfaces[1], on_method_call, None, None)
    connection.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                         GLib.Variant("((so))", ((connection.get_unique_name(), ROOT),)),
                         GLib.VariantType("((so))"), Gio.DBusCallFlags.NONE, -1, None)
    return connection


applications = []


def on_command(_source, _condition):
    global applications
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if len(words) == 2 and words[0] == "open":
        applications += [open_application(address) for _ in range(int(words[1]))]
        say("opened")
    elif words == ["close"]:
        for connection in applications:
            connection.close_sync(None)
        applications = []
        say("closed")
    return True


address = accessibility_bus_address()
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
say("ready")
loop.run()
