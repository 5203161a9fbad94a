#!/usr/bin/python3
"""A GTK3 window that keeps its accessibility side busy, for the tests of a
helper among busy applications.

It shows an entry, which holds the focus, and a check box and a label that a
timer changes as fast as the main loop allows: every change is a state-change
or a name-change event that GTK sends on the accessibility bus whether or not
anyone listens. It writes "ready" once the window is active and the timer
runs, and ends when its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

window = Gtk.Window(title="ortel busy window")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
window.add(box)
entry = Gtk.Entry()
check = Gtk.CheckButton(label="busy")
label = Gtk.Label(label="0")
for widget in (entry, check, label):
    box.pack_start(widget, False, False, 0)

ticks = [0]


def tick():
    ticks[0] += 1
    check.set_active(not check.get_active())
    label.set_text(str(ticks[0]))
    return True


def on_active(win, _param):
    if win.is_active() and not getattr(on_active, "said", False):
        on_active.said = True
        entry.grab_focus()
        GLib.timeout_add(1, tick)
        GLib.idle_add(say_ready, priority=GLib.PRIORITY_LOW)


def say_ready():
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    return False


def on_input(_source, _condition):
    if not sys.stdin.readline():
        Gtk.main_quit()
        return False
    return True


def on_mapped(win, _event):
    # Without a window manager nothing gives the window the input focus.
    win.get_window().focus(Gtk.get_current_event_time())
    return False


window.connect("notify::is-active", on_active)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
window.show_all()
Gtk.main()
