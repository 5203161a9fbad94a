"""The parent's side of ortel-helper's line protocol (docs/protocol.md).

    helper = Helper("/usr/libexec/ortel-helper/ortel-helper",
                    on_down=start_dictation, on_up=stop_dictation)
    helper.start()
    if helper.check_focus() == "editable": ...
    helper.stop()

One thread of the client's own reads the helper's lines, calls the callbacks,
matches each focus reply to its question in the order asked, and starts the
helper again, with a back-off, when it ends unasked. Callbacks run on that
thread: they must not block, and may ask (ask_focus) but not wait for the
reply there, which only that thread can take (add_done_callback instead).
"""
import collections
import concurrent.futures
import logging
import os
import select
import subprocess
import threading
import time

__all__ = ["Helper", "HelperError", "FocusTimeout", "HelperStopped"]

_log = logging.getLogger("ortel_helper")


class HelperError(Exception):
    """Something the client could not do for its caller."""


class FocusTimeout(HelperError, TimeoutError):
    """No focus reply came within the question's timeout."""


class HelperStopped(HelperError):
    """The helper was stopped, or not started, before it answered."""


class _Reply(concurrent.futures.Future):
    """A Future that refuses to be waited for on the thread that would set it."""

    def __init__(self, supervisor):
        super().__init__()
        self._supervisor = supervisor

    def result(self, timeout=None):
        if not self.done() and threading.current_thread() is self._supervisor:
            raise HelperError("a callback waited for a focus reply, which only its own thread can take: "
                              "use add_done_callback")
        return super().result(timeout)


class _Question:
    def __init__(self, deadline, supervisor):
        self.deadline = deadline
        self.future = _Reply(supervisor)

    def settle(self, answer=None, error=None):
        if self.future.done():
            return
        if error is None:
            self.future.set_result(answer)
        else:
            self.future.set_exception(error)


class _Run:
    """One helper process, the questions written to it in order, and what is
    still to be written."""

    def __init__(self, process):
        self.process = process
        self.asked = collections.deque()
        self.outgoing = b""
        self.ended = False
        self.stopping = False
        self.input_closed = False
        self.is_down = False
        self.started_at = time.monotonic()
        self.partial = b""


class Helper:
    def __init__(self, path, key=None, *, env=None, on_ready=None, on_down=None, on_up=None,
                 on_trusted=None, on_debug=None, on_exit=None, on_restarting=None, on_error=None,
                 focus_timeout=2.0,
                 restart_delay=0.25, max_restart_delay=30.0, stable_after=10.0, stop_timeout=3.0):
        # The helper writes the name into its lines as it is: a line break in
        # it would let the name forge any line.
        if key is not None and ("\n" in key or "\r" in key):
            raise ValueError("key: one line of text")
        self._path = path
        self._key = key
        self._name = "option" if key is None else key
        self._env = env
        self._callbacks = {"ready": on_ready, "down": on_down, "up": on_up, "trusted": on_trusted,
                           "debug": on_debug, "exit": on_exit, "restarting": on_restarting,
                           "error": on_error}
        self._focus_timeout = focus_timeout
        self._restart_delay = restart_delay
        self._max_restart_delay = max_restart_delay
        self._stable_after = stable_after
        self._stop_timeout = stop_timeout
        # Guards what the callers and the supervisor share; only the
        # supervisor reads and writes the helper's pipes.
        self._lock = threading.Lock()
        self._started = False
        self._run = None
        self._waiting = collections.deque()  # asked while no helper runs, for the next one
        self._thread = None
        self._exit_status = None
        self._wake_read, self._wake_write = os.pipe()
        os.set_blocking(self._wake_write, False)

    def __del__(self):
        for descriptor in (getattr(self, "_wake_read", -1), getattr(self, "_wake_write", -1)):
            if descriptor >= 0:
                os.close(descriptor)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *_exception):
        self.stop()

    @property
    def running(self):
        run = self._run
        return run is not None and not run.ended

    @property
    def pid(self):
        run = self._run
        return run.process.pid if run is not None and not run.ended else None

    def start(self):
        with self._lock:
            if self._started:
                return
            if self._thread is not None and self._thread.is_alive():
                raise HelperError("stop() is still under way")
            self._started = True
            self._exit_status = None
            self._thread = threading.Thread(target=self._supervise, name="ortel-helper", daemon=True)
        self._thread.start()

    def ask_focus(self, timeout=None):
        """A Future of "editable" or "none"; FocusTimeout or HelperStopped otherwise."""
        deadline = time.monotonic() + (self._focus_timeout if timeout is None else timeout)
        question = _Question(deadline, self._thread)
        with self._lock:
            if not self._started:
                question.settle(error=HelperStopped("ortel-helper is not started"))
                return question.future
            run = self._run
            if run is None or run.ended or run.stopping:
                self._waiting.append(question)
            else:
                run.asked.append(question)
                run.outgoing += b"check-focus\n"
        self._wake()
        return question.future

    def check_focus(self, timeout=None):
        """Blocks until the reply: "editable" or "none". Not from a callback: see ask_focus."""
        return self.ask_focus(timeout).result()

    def stop(self):
        """Closes the helper's input, which ends it; returns its exit status (None if none ran)."""
        with self._lock:
            thread = self._thread
            if self._started:
                self._started = False
                self._exit_status = None
                waiting = list(self._waiting)
                self._waiting.clear()
                if self._run is not None:
                    # Questions already asked are still answered: the helper
                    # reads its input to the end before it exits.
                    self._run.stopping = True
            else:
                waiting = []
        for question in waiting:
            question.settle(error=HelperStopped("ortel-helper was stopped"))
        self._wake()
        if thread is not None and thread is not threading.current_thread():
            thread.join()
        return self._exit_status

    def _wake(self):
        try:
            os.write(self._wake_write, b"x")
        except BlockingIOError:
            pass  # already woken

    # The supervisor thread, from here on.

    def _call(self, name, *values):
        callback = self._callbacks[name]
        if callback is None:
            return
        try:
            callback(*values)
        except Exception:  # a caller's fault must not end the supervision
            _log.exception("the %s callback raised", name)

    def _supervise(self):
        failures = 0
        restart_at = time.monotonic()
        kill_at = None
        while True:
            with self._lock:
                run = self._run
                started = self._started
            if run is None:
                if not started:
                    return
                if time.monotonic() >= restart_at:
                    run = self._spawn()
                    if run is None:  # could not start it at all: as if it ended at once
                        failures, restart_at = self._next_start(failures)
                        continue
            if run is not None:
                with self._lock:
                    stopping = run.stopping
                    close_input = stopping and not run.outgoing and not run.input_closed
                if stopping and kill_at is None:
                    kill_at = time.monotonic() + self._stop_timeout
                if close_input:
                    run.process.stdin.close()
                    run.input_closed = True
            readable, writable = self._wait(run, restart_at, kill_at)
            if self._wake_read in readable:
                os.read(self._wake_read, 4096)
            if run is not None and writable:
                self._write(run)
            if run is not None and run.process.stdout.fileno() in readable and not self._read(run):
                failures, restart_at = self._end(run, failures)
                kill_at = None
                continue
            self._expire(run)
            if kill_at is not None and time.monotonic() >= kill_at:
                run.process.kill()
                kill_at = None

    def _spawn(self):
        arguments = [self._path] if self._key is None else [self._path, self._key]
        try:
            process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, env=self._env)
        except OSError as error:
            self._call("error", error)
            self._call("exit", None)
            return None
        os.set_blocking(process.stdin.fileno(), False)
        run = _Run(process)
        with self._lock:
            self._run = run
            run.asked.extend(self._waiting)
            run.outgoing = b"check-focus\n" * len(self._waiting)
            self._waiting.clear()
        return run

    def _wait(self, run, restart_at, kill_at):
        with self._lock:
            questions = list(self._waiting) + (list(run.asked) if run is not None else [])
            writing = run is not None and bool(run.outgoing) and not run.input_closed
        deadlines = [question.deadline for question in questions if not question.future.done()]
        if run is None:
            deadlines.append(restart_at)
        if kill_at is not None:
            deadlines.append(kill_at)
        timeout = max(0.0, min(deadlines) - time.monotonic()) if deadlines else None
        readers = [self._wake_read] + ([run.process.stdout.fileno()] if run is not None else [])
        writers = [run.process.stdin.fileno()] if writing else []
        readable, writable, _ = select.select(readers, writers, [], timeout)
        return readable, writable

    def _write(self, run):
        with self._lock:
            outgoing = run.outgoing
        try:
            written = os.write(run.process.stdin.fileno(), outgoing)
        except BlockingIOError:
            written = 0
        except BrokenPipeError:
            written = len(outgoing)  # it has ended: its questions are asked again of the next one
        with self._lock:
            run.outgoing = run.outgoing[written:]

    def _expire(self, run):
        now = time.monotonic()
        with self._lock:
            # A question already written stays in its helper's queue, so that
            # its late reply is taken for it and for no later question.
            expired = [question for question in self._waiting if question.deadline <= now]
            for question in expired:
                self._waiting.remove(question)
            if run is not None:
                expired += [question for question in run.asked if question.deadline <= now]
        for question in expired:
            question.settle(error=FocusTimeout("no focus reply in time"))

    def _read(self, run):
        data = os.read(run.process.stdout.fileno(), 65536)
        if not data:
            return False
        lines = (run.partial + data).split(b"\n")
        run.partial = lines.pop()
        for line in lines:
            self._on_line(run, line.decode("utf-8", "replace"))
        return True

    def _on_line(self, run, line):
        # The key's lines first: a watched name may itself begin with "debug".
        if line == self._name + ":down":
            run.is_down = True
            self._call("down")
        elif line == self._name + ":up":
            run.is_down = False
            self._call("up")
        elif line in ("focus:editable", "focus:none"):
            with self._lock:
                question = run.asked.popleft() if run.asked else None
            if question is not None:
                question.settle(line[len("focus:"):])
        elif line in ("trusted:true", "trusted:false"):
            self._call("trusted", line == "trusted:true")
        elif line == "ready":
            self._call("ready")
        elif line.startswith("debug:"):
            self._call("debug", line[len("debug:"):])
        # Any other line is one a later helper may add: not for this client.

    def _end(self, run, failures):
        status = run.process.wait()
        run.process.stdout.close()
        if not run.input_closed:
            run.process.stdin.close()
        with self._lock:
            run.ended = True
            self._run = None
            started = self._started
            unanswered = [question for question in run.asked if not question.future.done()]
            if started:
                # Asked again of the next helper, each within what is left of its own timeout.
                self._waiting.extendleft(reversed(unanswered))
            self._exit_status = status
        # A hold the helper can no longer end ends here, so that every down has its up.
        if run.is_down:
            self._call("up")
        self._call("exit", status)
        if not started:
            for question in unanswered:
                question.settle(error=HelperStopped("ortel-helper was stopped"))
            return failures, time.monotonic()
        if time.monotonic() - run.started_at >= self._stable_after:
            failures = 0
        return self._next_start(failures)

    def _next_start(self, failures):
        delay = min(self._restart_delay * 2 ** failures, self._max_restart_delay)
        self._call("restarting", delay)
        return failures + 1, time.monotonic() + delay
