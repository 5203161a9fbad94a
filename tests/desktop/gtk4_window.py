#!/usr/bin/python3
"""A GTK 4 window with one widget of each kind, for the real-application tests.

Writes "ready" once the window is active, then reads commands on standard
input, one per line:

    focus NAME    gives keyboard focus to NAME with GTK's own grab_focus, or
                  takes it from every widget ("nothing"); answers
                  "focused NAME" once GTK has handled the change

It ends when its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


Gtk.init()
window = Gtk.Window(title="ortel GTK 4 window")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
window.set_child(box)

textview = Gtk.TextView()
textview.set_size_request(-1, 40)
readonly_view = Gtk.TextView(editable=False)
readonly_view.get_buffer().set_text("read only")
readonly_view.set_size_request(-1, 40)
editable_combo = Gtk.ComboBoxText.new_with_entry()
for item in ("one", "two"):
    editable_combo.append_text(item)
label = Gtk.Label(label="A label you can select", selectable=True)
widgets = {
    "entry": Gtk.Entry(),
    "password": Gtk.PasswordEntry(),
    "search": Gtk.SearchEntry(),
    "textarea": textview,
    "editablecombo": editable_combo,
    "combo": Gtk.DropDown.new_from_strings(["one", "two"]),
    "button": Gtk.Button(label="A button"),
    "checkbox": Gtk.CheckButton(label="A check box"),
    "link": Gtk.LinkButton(uri="https://example.invalid/", label="A link"),
    "label": label,
    "readonly": Gtk.Entry(editable=False, text="read only"),
    "readonlyarea": readonly_view,
}
for widget in widgets.values():
    box.append(widget)


def on_command(_channel, _condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if len(words) != 2 or words[0] != "focus":
        return True
    name = words[1]
    if name == "nothing":
        window.set_focus(None)
    elif name in widgets:
        widgets[name].grab_focus()
    else:
        say("unknown " + name)
        return True
    # GTK updates its accessible states when it handles the change; answer
    # after the idle callbacks it queued.
    GLib.idle_add(say_once, "focused " + name, priority=GLib.PRIORITY_LOW)
    return True


def say_once(line):
    say(line)
    return False


def on_active(_window, _param):
    if window.is_active() and not getattr(on_active, "said", False):
        on_active.said = True
        GLib.idle_add(say_once, "ready", priority=GLib.PRIORITY_LOW)


loop = GLib.MainLoop()
window.connect("notify::is-active", on_active)
window.connect("close-request", lambda _window: loop.quit() or False)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                  on_command)
window.present()
loop.run()
