#!/usr/bin/python3
"""A GTK window with one widget of each kind, for the real-application tests.

    gtk_window.py 3|4

GTK 3's window also holds a VTE terminal running cat. Writes "ready" once
the window is active, then reads commands on standard input, one per line:

    focus NAME    gives keyboard focus to NAME with GTK's own grab_focus, or
                  takes it from every widget ("nothing"); answers
                  "focused NAME" once GTK has handled the change

It ends when its standard input closes.
"""
import sys

import gi

VERSION = sys.argv[1] if len(sys.argv) == 2 else ""
if VERSION not in ("3", "4"):
    sys.exit("usage: gtk_window.py 3|4")
gi.require_version("Gtk", VERSION + ".0")
if VERSION == "3":
    gi.require_version("Vte", "2.91")
from gi.repository import GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def text_view(editable):
    view = Gtk.TextView(editable=editable)
    view.get_buffer().set_text("" if editable else "read only")
    view.set_size_request(-1, 40)
    return view


editable_combo = Gtk.ComboBoxText.new_with_entry()
for item in ("one", "two"):
    editable_combo.append_text(item)
widgets = {
    "entry": Gtk.Entry(),
    "password": Gtk.PasswordEntry() if VERSION == "4" else Gtk.Entry(visibility=False),
    "search": Gtk.SearchEntry(),
    "textarea": text_view(True),
    "editablecombo": editable_combo,
    "button": Gtk.Button(label="A button"),
    "checkbox": Gtk.CheckButton(label="A check box"),
    "link": Gtk.LinkButton(uri="https://example.invalid/", label="A link"),
    "label": Gtk.Label(label="A label you can select", selectable=True),
    "readonly": Gtk.Entry(editable=False, text="read only"),
    "readonlyarea": text_view(False),
}
window = Gtk.Window(title="ortel GTK %s window" % VERSION)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
if VERSION == "4":
    widgets["combo"] = Gtk.DropDown.new_from_strings(["one", "two"])
    window.set_child(box)
    for widget in widgets.values():
        box.append(widget)
else:
    from gi.repository import Vte  # noqa: E402
    combo = Gtk.ComboBoxText()
    for item in ("one", "two"):
        combo.append_text(item)
    combo.set_active(0)
    widgets["combo"] = combo
    # Typed text goes to the terminal's child, as in any terminal.
    terminal = Vte.Terminal()
    terminal.set_size(40, 4)
    terminal.spawn_async(Vte.PtyFlags.DEFAULT, None, ["/bin/cat"], None, GLib.SpawnFlags.DEFAULT, None, None, -1,
                         None, None)
    widgets["terminal"] = terminal
    window.add(box)
    for widget in widgets.values():
        box.pack_start(widget, False, False, 0)


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
    # GTK updates its accessible states as it handles the change; answer
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
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                  on_command)
if VERSION == "4":
    window.present()
else:
    window.show_all()
loop.run()
