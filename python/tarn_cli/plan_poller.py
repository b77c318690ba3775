"""The robot's plan, asked for on a thread of its own: a request may wait seconds for its answer."""

import threading

from . import robot

PLAN_EVERY = 1.0  # seconds between plan requests


class PlanPoller:
    """Asks for the plan every PLAN_EVERY seconds while the robot streams; latest() gives the last answer.

    The client releases the interpreter while a request waits, so the thread that draws keeps drawing."""

    def __init__(self, client, stream, stale_after, every=PLAN_EVERY):
        self._client, self._stream, self._stale_after, self._every = client, stream, stale_after, every
        self._lock = threading.Lock()
        self._plan = None
        self._error = None
        self._stop = threading.Event()
        self._asked = threading.Event()
        self._thread = threading.Thread(target=self._run, name="plan-requests", daemon=True)

    def start(self):
        self._thread.start()
        return self

    def latest(self):
        """(the last plan answered or None, why there is no fresh one or None)."""
        with self._lock:
            return self._plan, self._error

    def wait_first(self, timeout):
        """Waits until the first request has its answer (or none comes), at most `timeout` seconds."""
        self._asked.wait(timeout)

    def stop(self):
        """Asks no more; a request under way ends with its deadline, or at once when the client closes."""
        self._stop.set()

    def join(self, timeout):
        """True once the thread has ended; False while a request still waits for its answer."""
        if self._thread.is_alive():
            self._thread.join(timeout)
        return not self._thread.is_alive()

    def _run(self):
        while not self._stop.is_set():
            try:
                self._ask()
            except RuntimeError as e:
                # the client closed between the look at the flag and the call, or is unusable:
                # either way no more requests, and no traceback across the screen
                with self._lock:
                    self._error = "no more requests (%s)" % robot.library_text(str(e))
                self._asked.set()
                return
            self._asked.set()
            self._stop.wait(self._every)

    def _ask(self):
        # a robot that does not stream would not answer either: each request would wait out its deadline
        if self._client.stream_health(self._stream).freshness(self._stale_after).name != "LIVE":
            with self._lock:
                if self._plan is None:
                    self._error = "not asked while the robot is not streaming"
            return
        try:
            plan, error = self._client.plan_info(), None
        except RuntimeError as e:
            plan, error = None, "no answer (%s)" % robot.library_text(str(e))
        with self._lock:
            if plan is not None:
                self._plan = plan
            self._error = error
