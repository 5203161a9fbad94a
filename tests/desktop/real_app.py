#!/usr/bin/python3
"""Runs one real desktop application for the focus tests and the benchmark.

    real_app.py KIND        KIND: chromium, firefox, writer, qt, gtk3, gtk4

On the X display and session bus of its environment, under openbox (started
here unless a window manager runs already), with the application's
accessibility on. Writes "ready" once the application's window is active
and shows on the accessibility bus, or "missing: WHAT" when the application
or a tool is not installed. Then reads commands on standard input, one per
line:

    focus NAME    moves the keyboard focus to the widget NAME by the
                  application's own means (its toolkit's call, a page script
                  run by a key, the application's own shortcut), and answers
                  "focused NAME" once its accessibility tree shows it, or
                  "failed NAME: WHY"
    describe      answers "described: ..." with the role, localised role
                  name, states and interfaces of each FOCUSED element in the
                  active window, outermost first

Closing standard input ends the application (its whole process group), the
window manager if started here, and this script. Everything the application
writes to disk goes to a fresh directory, removed at the end.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PAGE = "file://" + os.path.join(HERE, "focus_page.html")
INSTALL_HINT = "install them with: scripts/install-deps.sh apps"
START_TIMEOUT_S = 90  # a cold start of a browser on a loaded two-core machine
FOCUS_TIMEOUT_S = 20
# GTK 3's window holds a VTE terminal too.
TOOLKIT_SCRIPTS = {"qt": ["qt_window.py"], "gtk3": ["gtk_window.py", "3"], "gtk4": ["gtk_window.py", "4"]}
# The widgets of focus_page.html, in the order its F2 key visits them.
PAGE_ORDER = ["entry", "password", "search", "textarea", "contenteditable", "editablecombo", "combo", "button",
              "checkbox", "link", "paragraph", "readonly", "readonlyarea", "nothing"]
LIBREOFFICE_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema"
           xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""
# A fresh profile shows no first-run page, no default-browser question and no
# telemetry notice, which would take the focus from the page.
FIREFOX_PREFERENCES = """\
user_pref("accessibility.force_disabled", -1);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
"""


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


# What each kind needs beyond the accessibility bus: commands, GObject
# introspection namespaces, Python modules and files, with their packages.
COMMON_COMMANDS = {"openbox": "openbox", "xprop": "x11-utils"}
NEEDS = {
    "chromium": {"commands": {"chromium": "chromium", "xdotool": "xdotool"}},
    "firefox": {"commands": {"firefox-esr": "firefox-esr", "xdotool": "xdotool"}},
    "writer": {"commands": {"soffice": "libreoffice-writer", "xdotool": "xdotool"},
               "files": {"/usr/lib/libreoffice/program/libvclplug_gtk3lo.so": "libreoffice-gtk3"}},
    "qt": {"modules": {"PyQt5": "python3-pyqt5"}},
    "gtk3": {"namespaces": {("Gtk", "3.0"): "gir1.2-gtk-3.0", ("Vte", "2.91"): "gir1.2-vte-2.91"}},
    "gtk4": {"namespaces": {("Gtk", "4.0"): "gir1.2-gtk-4.0"}},
}


def missing_parts(kind):
    """The packages this kind needs that are not installed."""
    import importlib.util
    needs = NEEDS[kind]
    commands = {**COMMON_COMMANDS, **needs.get("commands", {})}
    missing = [package for command, package in commands.items() if shutil.which(command) is None]
    missing += [package for path, package in needs.get("files", {}).items() if not os.path.exists(path)]
    missing += [package for module, package in needs.get("modules", {}).items()
                if importlib.util.find_spec(module) is None]
    namespaces = {("Atspi", "2.0"): "gir1.2-atspi-2.0", **needs.get("namespaces", {})}
    for (namespace, version), package in namespaces.items():
        try:
            import gi
            gi.require_version(namespace, version)
        except (ImportError, ValueError):
            missing.append(package)
    return missing


def wait_for(condition, timeout_s, step_s=0.05):
    deadline = time.monotonic() + timeout_s
    while True:
        result = condition()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(step_s)


# ---- the accessibility bus, as the caller's oracle of where the focus is ----

def atspi():
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    return Atspi


def children(element):
    try:
        return [child for child in (element.get_child_at_index(i) for i in range(element.get_child_count()))
                if child is not None]
    except Exception:
        return []


def has_state(element, state):
    try:
        return element.get_state_set().contains(state)
    except Exception:
        return False


def root_bus_address():
    """The accessibility bus's address on the root window, or None."""
    check = subprocess.run(["xprop", "-root", "-notype", "AT_SPI_BUS"], capture_output=True, text=True)
    return check.stdout.split("=", 1)[1].strip() if check.returncode == 0 and "=" in check.stdout else None


def active_window():
    Atspi = atspi()
    for application in children(Atspi.get_desktop(0)):
        for window in children(application):
            if has_state(window, Atspi.StateType.ACTIVE):
                return window
    return None


def focused_elements(window, limit=5000):
    """Every FOCUSED element of the window, outermost first."""
    Atspi = atspi()
    states = Atspi.StateSet.new([Atspi.StateType.FOCUSED])
    every = Atspi.CollectionMatchType.ALL
    rule = Atspi.MatchRule.new(states, every, {}, every, [], every, [], every, False)
    try:
        return list(window.get_matches(rule, Atspi.CollectionSortOrder.CANONICAL, 0, True))
    except Exception:
        pass  # no Collection interface: walk
    found, pending = [], [window]
    while pending and limit > 0:
        limit -= 1
        element = pending.pop()
        if has_state(element, Atspi.StateType.FOCUSED):
            found.append(element)
        if not has_state(element, Atspi.StateType.MANAGES_DESCENDANTS):
            pending.extend(reversed(children(element)))
    return found


def role_of(element):
    try:
        return element.get_role()
    except Exception:
        return None


def describe(element):
    Atspi = atspi()
    try:
        states = " ".join(sorted(state.value_nick.upper() for state in element.get_state_set().get_states()
                                 if state != Atspi.StateType.INVALID))
        return "%s '%s' [%s] (%s)" % (element.get_role_name(), element.get_localized_role_name(), states,
                                      ",".join(sorted(element.get_interfaces())))
    except Exception as failure:
        return "(gone: %s)" % failure


def document_name(window):
    """The name of the window's web document: the page's title."""
    Atspi = atspi()
    rule = Atspi.MatchRule.new(Atspi.StateSet.new([]), Atspi.CollectionMatchType.ALL, {}, Atspi.CollectionMatchType.ALL,
                               [Atspi.Role.DOCUMENT_WEB], Atspi.CollectionMatchType.ANY, [],
                               Atspi.CollectionMatchType.ALL, False)
    try:
        documents = window.get_matches(rule, Atspi.CollectionSortOrder.CANONICAL, 1, True)
        return documents[0].get_name() if documents else None
    except Exception:
        return None


def active_document_name():
    window = active_window()
    return document_name(window) if window is not None else None


def focused_role_in_active(roles, window_roles=None):
    """True when the active window (of one of window_roles) has a FOCUSED element of one of roles."""
    window = active_window()
    if window is None or (window_roles is not None and role_of(window) not in window_roles):
        return False
    return any(role_of(element) in roles for element in focused_elements(window))


# ---- the applications ---------------------------------------------------

class Application:
    def __init__(self, kind):
        self.kind = kind
        self.home = tempfile.mkdtemp(prefix="ortel-app-")
        self.groups = []  # process groups started here, ended in reverse
        self.window = None  # the toolkit script's pipes
        self.page_at = -1

    def spawn(self, argv, environment=None, pipes=False):
        env = dict(os.environ, HOME=self.home)
        env.update(environment or {})
        process = subprocess.Popen(argv, env=env, start_new_session=True, stdin=subprocess.PIPE if pipes else
                                   subprocess.DEVNULL, stdout=subprocess.PIPE if pipes else subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, text=True)
        self.groups.append(process)
        return process

    def start_window_manager(self):
        def supporting_window(*where):
            check = subprocess.run(["xprop"] + list(where) + ["-notype", "_NET_SUPPORTING_WM_CHECK"],
                                   capture_output=True, text=True)
            return check.stdout.split("window id # ")[-1].strip() if "window id # " in check.stdout else None

        def managed():
            # A window manager that has gone leaves the root's property
            # behind; the window it names, its own, goes with it.
            window = supporting_window("-root")
            return window is not None and supporting_window("-id", window) == window
        # An X server resets when its last client leaves, and drops the
        # connections that come meanwhile: a window manager that comes just
        # as the check above leaves cannot open the display, and is started
        # again.
        for _ in range(5):
            if managed():
                return True
            manager = self.spawn(["openbox", "--sm-disable"])
            wait_for(lambda: manager.poll() is not None or managed(), START_TIMEOUT_S)
        return managed()

    def start(self):
        if not self.start_window_manager():
            return "openbox did not start"
        starter = getattr(self, "start_" + self.kind)
        return starter()

    def start_toolkit(self, environment):
        script, *arguments = TOOLKIT_SCRIPTS[self.kind]
        self.window = self.spawn(["/usr/bin/python3", os.path.join(HERE, script)] + arguments, environment, pipes=True)
        if self.read_window_line(START_TIMEOUT_S) != "ready":
            return "the window never became active"
        if not wait_for(lambda: active_window() is not None, START_TIMEOUT_S):
            failure = "the window never showed as active on the accessibility bus"
            # Qt 5 finds a bus that already runs only through the address its
            # launcher wrote on the root window, which an X server reset wipes.
            if self.kind == "qt" and root_bus_address() is None:
                failure += " (the root window has no AT_SPI_BUS: has the X server reset since the bus started?)"
            return failure
        return None

    def start_qt(self):
        return self.start_toolkit({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})

    def start_gtk3(self):
        return self.start_toolkit({"GDK_BACKEND": "x11"})

    def start_gtk4(self):
        return self.start_toolkit({"GDK_BACKEND": "x11"})

    def start_chromium(self):
        profile = os.path.join(self.home, "chromium")
        argv = ["chromium", "--user-data-dir=" + profile, "--force-renderer-accessibility", "--disable-gpu",
                "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-quic", "--password-store=basic"]
        if os.geteuid() == 0:
            argv.append("--no-sandbox")  # Chromium will not start as root with its sandbox
        # The flag fills in the page's tree; without ACCESSIBILITY_ENABLED (or
        # the bus's IsEnabled) Chromium does not join the accessibility bus at all.
        self.spawn(argv + [PAGE], {"ACCESSIBILITY_ENABLED": "1"})
        return self.await_page()

    def start_firefox(self):
        profile = os.path.join(self.home, "firefox")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as preferences:
            preferences.write(FIREFOX_PREFERENCES)
        self.spawn(["firefox-esr", "--no-remote", "--profile", profile, PAGE])
        return self.await_page()

    def await_page(self):
        if not wait_for(lambda: active_document_name() == "loaded", START_TIMEOUT_S, 0.2):
            return "the page never showed as loaded on the accessibility bus"
        return None

    def start_writer(self):
        profile = os.path.join(self.home, "libreoffice")
        os.makedirs(os.path.join(profile, "user"))
        with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as settings:
            settings.write(LIBREOFFICE_SETTINGS)
        # Only the GTK 3 plugin speaks AT-SPI; the plain X11 one shows nothing.
        self.spawn(["soffice", "--writer", "--norestore", "--nologo", "--nolockcheck",
                    "-env:UserInstallation=file://" + profile], {"SAL_USE_VCLPLUGIN": "gtk3"})
        if not wait_for(self.document_focused, START_TIMEOUT_S, 0.2):
            return "the document never showed a focused paragraph on the accessibility bus"
        return None

    def document_focused(self):
        Atspi = atspi()
        return focused_role_in_active({Atspi.Role.PARAGRAPH}, {Atspi.Role.FRAME})

    def read_window_line(self, timeout_s):
        """The window's next line, or None after timeout_s."""
        ready, _, _ = select.select([self.window.stdout], [], [], timeout_s)
        return self.window.stdout.readline().strip() if ready else None

    def keys(self, *keys):
        subprocess.run(["xdotool", "key"] + list(keys), check=False)

    def focus(self, name):
        if self.window is not None:
            self.window.stdin.write("focus %s\n" % name)
            self.window.stdin.flush()
            reply = self.read_window_line(FOCUS_TIMEOUT_S)
            return None if reply == "focused " + name else "the window said %r" % reply
        if self.kind in ("chromium", "firefox"):
            return self.focus_on_page(name)
        return self.focus_in_writer(name)

    def focus_on_page(self, name):
        if name not in PAGE_ORDER:
            return "the page has no " + name
        for _ in PAGE_ORDER:
            if self.page_at >= 0 and PAGE_ORDER[self.page_at] == name:
                return None
            self.page_at = (self.page_at + 1) % len(PAGE_ORDER)
            expected = "focused " + PAGE_ORDER[self.page_at]
            self.keys("F2")
            if not wait_for(lambda: active_document_name() == expected, FOCUS_TIMEOUT_S):
                return "the page's title never became %r" % expected
        return "the page's script did not reach " + name

    def focus_in_writer(self, name):
        Atspi = atspi()
        if name == "document":
            if not self.document_focused():
                self.keys("Escape")  # closes a dialog
            ready = wait_for(self.document_focused, FOCUS_TIMEOUT_S)
        elif name == "dialogfield":
            self.keys("ctrl+h")  # Find and Replace, with the focus in its search text
            ready = wait_for(lambda: focused_role_in_active({Atspi.Role.TEXT}, {Atspi.Role.DIALOG}),
                             FOCUS_TIMEOUT_S)
        else:
            return "Writer has no " + name
        return None if ready else "the focus never showed in the " + name

    def stop(self):
        if self.window is not None:
            self.window.stdin.close()
        for process in reversed(self.groups):
            try:
                if process is self.window:
                    process.wait(timeout=5)
                os.killpg(process.pid, signal.SIGTERM)
            except (ProcessLookupError, subprocess.TimeoutExpired, PermissionError):
                pass
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
        shutil.rmtree(self.home, ignore_errors=True)


def main():
    kind = sys.argv[1] if len(sys.argv) == 2 else ""
    if kind not in NEEDS:
        sys.exit("usage: real_app.py " + "|".join(NEEDS))
    missing = missing_parts(kind)
    if missing:
        say("missing: %s (%s)" % (" ".join(missing), INSTALL_HINT))
        return
    application = Application(kind)
    # Ended by the caller: still end what was started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        failure = application.start()
        say("ready" if failure is None else "failed: " + failure)
        for line in sys.stdin:
            words = line.split()
            if len(words) == 2 and words[0] == "focus":
                failure = application.focus(words[1])
                say("focused " + words[1] if failure is None else "failed %s: %s" % (words[1], failure))
            elif words == ["describe"]:
                window = active_window()
                elements = focused_elements(window) if window is not None else []
                say("described: " + (" > ".join(describe(element) for element in elements) or "nothing focused"))
    finally:
        application.stop()


if __name__ == "__main__":
    main()
