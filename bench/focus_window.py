#!/usr/bin/python3
"""A GTK3 window for the check-focus benchmark.

    focus_window.py WIDGETS entry|button

Shows one window of about WIDGETS widgets: a text entry, a button and
enough further buttons in a grid to reach the count. Once the window is
on screen with the chosen widget focused it prints "shown"; it ends when
its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("entry", "button"):
        sys.exit("usage: focus_window.py WIDGETS entry|button")
    count = max(int(sys.argv[1]), 4)

    window = Gtk.Window(title=f"ortel bench: {count} widgets")
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    window.add(box)
    entry = Gtk.Entry(text="some text")
    button = Gtk.Button(label="a button")
    box.pack_start(entry, False, False, 0)
    box.pack_start(button, False, False, 0)

    # The window, the box, the grid and the two widgets above count too.
    grid = Gtk.Grid()
    box.pack_start(grid, True, True, 0)
    filler = count - 5
    columns = max(1, int(filler ** 0.5))
    for index in range(max(filler, 0)):
        grid.attach(Gtk.Button(label=str(index)), index % columns, index // columns, 1, 1)

    target = entry if sys.argv[2] == "entry" else button

    def announce():
        target.grab_focus()
        print("shown", flush=True)
        return False

    def on_map(*_):
        # A frame later the window is drawn and its focus settled.
        GLib.timeout_add(200, announce)

    window.connect("map-event", on_map)
    window.connect("destroy", Gtk.main_quit)

    def on_input(channel, condition):
        if condition & (GLib.IO_HUP | GLib.IO_ERR) or not channel.read(4096):
            Gtk.main_quit()
            return False
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_input)
    window.show_all()
    window.present()
    Gtk.main()


if __name__ == "__main__":
    main()
