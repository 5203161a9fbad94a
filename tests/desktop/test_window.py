#!/usr/bin/python3
"""A small GTK3 window for the end-to-end tests and the demo.

It shows an entry, a text view, a password entry, a button and a selectable
label, writes "ready" once the window is active, and then reads commands on
its standard input, one per line:

    focus NAME    gives keyboard focus to NAME (entry, textview, password,
                  button, label) or to nothing; answers "focused NAME"
    activate      takes the X input focus; answers "active" once the window is
    await-inactive  answers "inactive" once another window has the focus
    busy          from then on changes the button's sensitivity and the label's
                  text as fast as the main loop allows: each change is an event
                  GTK sends on the accessibility bus whether or not anyone
                  listens, as a busy application does; answers "busy"

It ends when its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


window = Gtk.Window(title="ortel test window")
window.set_default_size(360, 240)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
window.add(box)

textview = Gtk.TextView()
textview.set_size_request(-1, 60)
label = Gtk.Label(label="A label you can select")
label.set_selectable(True)
widgets = {
    "entry": Gtk.Entry(),
    "textview": textview,
    "password": Gtk.Entry(visibility=False),
    "button": Gtk.Button(label="A button"),
    "label": label,
}
for widget in widgets.values():
    box.pack_start(widget, False, False, 0)


# The answer the window owes once its activity is as asked, if any.
awaited = {"active": None}


def on_active(win, _param):
    if win.is_active() and not getattr(on_active, "said", False):
        on_active.said = True
        say("ready")
    answer_activity()


def answer_activity():
    wanted = awaited["active"]
    if wanted is None or window.is_active() != wanted:
        return
    awaited["active"] = None
    # After GTK's accessibility side has heard of the change, as for focus.
    GLib.idle_add(say_once, "active" if wanted else "inactive", priority=GLib.PRIORITY_LOW)


def say_once(line):
    say(line)
    return False


def change_something(changes=[0]):
    changes[0] += 1
    widgets["button"].set_sensitive(changes[0] % 2 == 0)
    label.set_text("Changed %d times" % changes[0])
    return True


def on_command(_source, _condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    words = line.split()
    if words == ["activate"]:
        awaited["active"] = True
        window.get_window().focus(Gtk.get_current_event_time())
        answer_activity()
    elif words == ["await-inactive"]:
        awaited["active"] = False
        answer_activity()
    elif words == ["busy"]:
        GLib.timeout_add(1, change_something)
        say("busy")
    elif len(words) == 2 and words[0] == "focus":
        name = words[1]
        if name == "nothing":
            window.set_focus(None)
        elif name in widgets:
            widgets[name].grab_focus()
        else:
            say("unknown " + name)
            return True
        # GTK tells its accessibility side about a focus change from an idle
        # callback; answer only after that has run.
        GLib.idle_add(say_focused, name, priority=GLib.PRIORITY_LOW)
    return True


def say_focused(name):
    say("focused " + name)
    return False


def on_mapped(win, _event):
    # Without a window manager nothing gives the window the input focus, and
    # an inactive window has no focused widget to report; GDK then sets the
    # X focus itself.
    win.get_window().focus(Gtk.get_current_event_time())
    return False


window.connect("notify::is-active", on_active)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
window.show_all()
Gtk.main()
