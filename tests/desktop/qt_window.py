#!/usr/bin/python3
"""A Qt 5 window with one widget of each kind, for the real-application tests.

Writes "ready" once the window is active, then reads commands on standard
input, one per line:

    focus NAME    gives keyboard focus to NAME with Qt's own setFocus, or
                  takes it from every widget ("nothing"); answers
                  "focused NAME" once Qt has handled the change

It ends when its standard input closes. Qt shows itself on the
accessibility bus only with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (or the
bus's IsEnabled), which the caller sets.
"""
import sys

from PyQt5.QtCore import QSocketNotifier, Qt, QTimer
from PyQt5.QtWidgets import (QApplication, QCheckBox, QComboBox, QLabel, QLineEdit, QPlainTextEdit, QPushButton,
                             QTextEdit, QVBoxLayout, QWidget)


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


app = QApplication(sys.argv[:1])
window = QWidget()
window.setWindowTitle("ortel Qt window")
layout = QVBoxLayout(window)

password = QLineEdit()
password.setEchoMode(QLineEdit.Password)
search = QLineEdit()
search.setPlaceholderText("Search")
search.setClearButtonEnabled(True)
editable_combo = QComboBox()
editable_combo.setEditable(True)
editable_combo.addItems(["one", "two"])
combo = QComboBox()
combo.addItems(["one", "two"])
label = QLabel("A label you can select")
label.setTextInteractionFlags(Qt.TextSelectableByMouse | Qt.TextSelectableByKeyboard)
readonly = QLineEdit("read only")
readonly.setReadOnly(True)
readonly_area = QPlainTextEdit("read only")
readonly_area.setReadOnly(True)

widgets = {
    "entry": QLineEdit(),
    "password": password,
    "search": search,
    "textarea": QTextEdit(),
    "plaintextarea": QPlainTextEdit(),
    "editablecombo": editable_combo,
    "combo": combo,
    "button": QPushButton("A button"),
    "checkbox": QCheckBox("A check box"),
    "label": label,
    "readonly": readonly,
    "readonlyarea": readonly_area,
}
for name, widget in widgets.items():
    widget.setAccessibleName(name)
    layout.addWidget(widget)
# What holds the focus when no widget does: the window itself.
window.setFocusPolicy(Qt.StrongFocus)


def on_command():
    line = sys.stdin.readline()
    if not line:
        app.quit()
        return
    words = line.split()
    if len(words) != 2 or words[0] != "focus":
        return
    name = words[1]
    if name == "nothing":
        window.setFocus(Qt.OtherFocusReason)
    elif name in widgets:
        widgets[name].setFocus(Qt.OtherFocusReason)
    else:
        say("unknown " + name)
        return
    # Qt tells the accessibility bus from within setFocus; answer once the
    # events it posted have run too.
    QTimer.singleShot(0, lambda: say("focused " + name))


def on_activation():
    if window.isActiveWindow():
        app.focusChanged.disconnect()
        app.applicationStateChanged.disconnect()
        say("ready")


notifier = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Read)
notifier.activated.connect(on_command)
app.focusChanged.connect(lambda _old, _new: on_activation())
app.applicationStateChanged.connect(lambda _state: on_activation())
window.show()
window.activateWindow()
window.raise_()
sys.exit(app.exec_())
