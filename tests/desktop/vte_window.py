#!/usr/bin/python3
"""A VTE terminal running cat, beside a button, for the real-application tests.

Writes "ready" once the window is active and the terminal's child runs,
then reads commands on standard input, one per line:

    focus NAME    gives keyboard focus to NAME (terminal, button) with GTK's
                  own grab_focus, or takes it from both ("nothing");
                  answers "focused NAME" once GTK has handled the change

It ends when its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Vte", "2.91")
from gi.repository import GLib, Gtk, Vte  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


window = Gtk.Window(title="ortel VTE window")
window.set_default_size(480, 320)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
window.add(box)
terminal = Vte.Terminal()
terminal.set_size(60, 10)
widgets = {"terminal": terminal, "button": Gtk.Button(label="A button")}
box.pack_start(terminal, True, True, 0)
box.pack_start(widgets["button"], False, False, 0)

# Typed text goes to the terminal's child, as in any terminal.
state = {"spawned": False, "active": False, "said": False}


def say_ready_once():
    if state["spawned"] and state["active"] and not state["said"]:
        state["said"] = True
        GLib.idle_add(say_once, "ready", priority=GLib.PRIORITY_LOW)


def on_spawned(_terminal, pid, _error, *_data):
    state["spawned"] = pid > 0
    say_ready_once()


def on_active(_window, _param):
    state["active"] = state["active"] or window.is_active()
    say_ready_once()


def on_mapped(win, _event):
    # So that the window is active even where nothing else would give it the
    # input focus.
    win.get_window().focus(Gtk.get_current_event_time())
    return False


def on_command(_source, _condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
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
    GLib.idle_add(say_once, "focused " + name, priority=GLib.PRIORITY_LOW)
    return True


def say_once(line):
    say(line)
    return False


terminal.spawn_async(Vte.PtyFlags.DEFAULT, None, ["/bin/cat"], None, GLib.SpawnFlags.DEFAULT, None, None, -1, None,
                     on_spawned)
window.connect("notify::is-active", on_active)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
window.show_all()
Gtk.main()
