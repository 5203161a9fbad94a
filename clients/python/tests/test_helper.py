"""The client against the real helper on a headless desktop.

Run by tests/desktop/in_session.sh, which gives it a display and a session
bus, with ORTEL_HELPER, ORTEL_XINJECT and ORTEL_TEST_WINDOW naming the built
helper, the key injector and the GTK test window.
"""
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from ortel_helper import FocusTimeout, Helper, HelperError, HelperStopped  # noqa: E402

LATE_REPLY_HELPER = os.path.join(HERE, "..", "..", "late_reply_helper.py")


def variable(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(name + " is not set: run the tests through ctest")
    return value


HELPER = variable("ORTEL_HELPER")
XINJECT = variable("ORTEL_XINJECT")
TEST_WINDOW = variable("ORTEL_TEST_WINDOW")


def until(condition, what, within=10.0):
    deadline = time.monotonic() + within
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


def inject(*steps):
    subprocess.run([XINJECT, *steps], check=True)


class Window:
    """The GTK window of tests/desktop/test_window.py, driven by its commands."""

    def __init__(self):
        self.process = subprocess.Popen(["/usr/bin/python3", TEST_WINDOW], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                        env={**os.environ, "GDK_BACKEND": "x11"})
        self.expect("ready")

    def expect(self, line):
        got = self.process.stdout.readline().strip()
        if got != line:
            raise AssertionError("the window said %r, not %r" % (got, line))

    def focus(self, widget):
        self.process.stdin.write("focus %s\n" % widget)
        self.process.stdin.flush()
        self.expect("focused " + widget)

    def close(self):
        self.process.stdin.close()
        self.process.wait()


class Recorder:
    """Every callback's call, in order."""

    def __init__(self):
        self.events = []
        self.lock = threading.Lock()

    def callbacks(self):
        def note(name):
            return lambda *values: self.add((name, *values))
        return {"on_" + name: note(name) for name in ("ready", "down", "up", "trusted", "exit")}

    def add(self, event):
        with self.lock:
            self.events.append(event)

    def named(self, *names):
        with self.lock:
            return [event for event in self.events if event[0] in names]


class ClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.window = Window()
        # The window joins the accessibility bus in its own time.
        cls.window.focus("entry")
        with Helper(HELPER) as helper:
            deadline = time.monotonic() + 15
            while helper.check_focus() != "editable":
                if time.monotonic() > deadline:
                    raise AssertionError("the helper never saw the window")
                time.sleep(0.1)

    @classmethod
    def tearDownClass(cls):
        cls.window.close()

    def started(self, **options):
        recorder = Recorder()
        helper = Helper(HELPER, restart_delay=0.1, **recorder.callbacks(), **options)
        helper.start()
        self.addCleanup(helper.stop)
        until(lambda: recorder.named("trusted"), "the trust line")
        self.assertEqual(recorder.events, [("ready",), ("trusted", True)])
        return helper, recorder

    def focus_in(self, helper, widget, expected):
        self.window.focus(widget)
        self.assertEqual(helper.check_focus(), expected)

    def test_hold_gives_down_then_up_and_tap_nothing(self):
        helper, recorder = self.started()
        inject("+Alt_L", "50", "-Alt_L", "200", "+Alt_L", "400", "-Alt_L")
        until(lambda: recorder.named("up"), "the up callback")
        self.assertEqual(recorder.named("down", "up"), [("down",), ("up",)])

    def test_focus_editable_in_an_entry_none_on_a_button(self):
        helper, _ = self.started()
        for widget, expected in (("entry", "editable"), ("button", "none"), ("entry", "editable")):
            with self.subTest(widget=widget):
                self.focus_in(helper, widget, expected)

    def test_hundred_questions_at_once_get_their_replies_in_order(self):
        debug = []
        helper, recorder = self.started(on_debug=debug.append)
        self.focus_in(helper, "entry", "editable")
        hold = threading.Thread(target=inject, args=("+Alt_L", "300", "-Alt_L"))
        hold.start()
        time.sleep(0.02)  # the injector's press among the replies
        questions = [helper.ask_focus(timeout=10) for _ in range(100)]
        self.window.focus("button")
        after = helper.ask_focus()
        answers = [question.result(timeout=15) for question in questions]
        # The focus moved once, from the entry to the button: in the order
        # asked, the answers can only go from editable to none, never back.
        first_none = answers.index("none") if "none" in answers else len(answers)
        self.assertEqual(answers, ["editable"] * first_none + ["none"] * (100 - first_none))
        self.assertEqual(after.result(timeout=15), "none")
        hold.join()
        until(lambda: recorder.named("up"), "the hold")
        self.assertEqual(recorder.named("down", "up"), [("down",), ("up",)])
        self.assertTrue(any(text.startswith("flagsChanged ") for text in debug), debug)

    def test_killed_helper_is_started_again_and_each_reply_goes_to_its_question(self):
        helper, recorder = self.started()
        self.focus_in(helper, "entry", "editable")
        # Killed during a hold: the client ends the hold itself.
        hold = threading.Thread(target=inject, args=("+Alt_L", "700", "-Alt_L"))
        hold.start()
        until(lambda: recorder.named("down"), "the down callback")
        os.kill(helper.pid, signal.SIGKILL)
        until(lambda: len(recorder.named("ready")) == 2, "the restart")
        hold.join()
        self.assertEqual(recorder.named("down", "up", "exit", "ready")[1:],
                         [("down",), ("up",), ("exit", -signal.SIGKILL), ("ready",)])

        # Questions the helper never read when it was killed are asked again
        # of the next one; a question asked after the focus moved gets its own.
        until(lambda: len(recorder.named("trusted")) == 2, "the new helper")
        os.kill(helper.pid, signal.SIGSTOP)
        unread = [helper.ask_focus(timeout=10), helper.ask_focus(timeout=10)]
        time.sleep(0.05)
        os.kill(helper.pid, signal.SIGKILL)
        self.assertEqual([question.result(timeout=15) for question in unread], ["editable", "editable"])
        self.assertEqual(len(recorder.named("ready")), 3)
        self.focus_in(helper, "button", "none")

        # And the restarted helper hears the keys.
        inject("+Alt_L", "300", "-Alt_L")
        until(lambda: len(recorder.named("up")) == 2, "a hold after the restarts")

    def test_stop_ends_the_helper_with_status_0_once_it_has_answered(self):
        helper, recorder = self.started()
        question = helper.ask_focus()
        self.assertEqual(helper.stop(), 0)
        self.assertIn(question.result(timeout=15), ("editable", "none"))
        self.assertEqual(recorder.named("exit"), [("exit", 0)])
        time.sleep(0.5)
        self.assertEqual(len(recorder.named("ready")), 1)
        self.assertFalse(helper.running)
        with self.assertRaises(HelperStopped):
            helper.check_focus()

    def test_restarts_back_off_doubling_up_to_the_longest_delay(self):
        started_at = []
        helper = None

        def kill_on_ready():
            started_at.append(time.monotonic())
            os.kill(helper.pid, signal.SIGKILL)

        delays = []
        helper = Helper(HELPER, restart_delay=0.05, max_restart_delay=0.2, on_ready=kill_on_ready,
                        on_restarting=delays.append)
        helper.start()
        self.addCleanup(helper.stop)
        until(lambda: len(started_at) == 5, "five starts")
        helper.stop()
        self.assertEqual(delays[:4], [0.05, 0.1, 0.2, 0.2])
        for i, delay in enumerate((0.05, 0.1, 0.2, 0.2)):
            self.assertGreaterEqual(started_at[i + 1] - started_at[i], delay, "start %d" % (i + 2))

    def test_late_reply_after_a_timeout_is_not_taken_for_the_next_question(self):
        debug = []
        with Helper(LATE_REPLY_HELPER, on_debug=debug.append) as helper:
            with self.assertRaises(FocusTimeout):
                helper.check_focus(timeout=0.1)
            # Asked before the late reply comes, answered after it.
            self.assertEqual(helper.check_focus(), "editable")
        self.assertEqual(debug, ["watching option", "focus-unavailable timeout"])

    def test_callback_that_waits_for_a_reply_is_refused_rather_than_stuck(self):
        outcome = []

        def on_trusted(_trusted):
            reply = helper.ask_focus()
            try:
                reply.result()
            except HelperError as error:
                outcome.append(error)
            reply.add_done_callback(lambda done: outcome.append(done.result()))

        helper = Helper(HELPER, on_trusted=on_trusted)
        with helper:
            until(lambda: len(outcome) == 2, "the reply")
        self.assertIsInstance(outcome[0], HelperError)
        self.assertIn(outcome[1], ("editable", "none"))

    def test_watched_name_must_be_one_line(self):
        with self.assertRaises(ValueError):
            Helper(HELPER, "option\nfocus:editable")


if __name__ == "__main__":
    unittest.main(verbosity=2)
