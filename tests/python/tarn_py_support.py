"""Helpers shared by the norviktarn tests (paths, tarn-sim processes, polling)."""

import glob
import itertools
import json
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("NORVIK_TARN_BUILD_DIR", ROOT / "build")).resolve()
MODULE_DIR = BUILD_DIR / "python"
SIM_DIR = ROOT / "sim"

# Streams at 200 Hz: fresh data within milliseconds, little CPU on a small machine.
SIM_RATE = "200"
_serials = itertools.count(1)


def pyenv_python(minor):
    """The newest pyenv-built CPython 3.<minor>, or None (pyenv's bare shims may point elsewhere)."""
    root = os.environ.get("PYENV_ROOT")
    if not root:
        done = subprocess.run(["pyenv", "root"], capture_output=True, text=True)
        root = done.stdout.strip() if done.returncode == 0 else os.path.expanduser("~/.pyenv")
    found = sorted(glob.glob(os.path.join(root, "versions", "3.%d.*" % minor, "bin", "python3.%d" % minor)),
                   key=lambda p: [int(x) for x in p.split("/versions/")[1].split("/")[0].split(".") if x.isdigit()])
    return found[-1] if found else None


def require_isolation():
    # Zenoh scouts the network: sessions only ever open inside tools/isolated
    if os.environ.get("TARN_ISOLATED") != "1":
        pytest.fail("tests that open Zenoh sessions must run under tools/isolated", pytrace=False)


def unique_serial(name):
    """A serial no other test uses, so a late sample of an earlier robot never shows up."""
    return "PY%d-%s%d" % (os.getpid(), name, next(_serials))


def wait_until(predicate, timeout=10.0, interval=0.01, what="condition"):
    """Poll until predicate() is truthy and return its value; fails the test at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            pytest.fail("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


NOT_FOUND = "[norvik::tarn::Client] Failed to connect to ["


def connect(norviktarn, *args, timeout=10.0, **kwargs):
    """norviktarn.Client(*args, **kwargs), retried while the robot is not seen yet.

    A process whose Zenoh session is already open learns of a robot that just
    started a moment after the robot says it is ready, and the client's probe
    fails at once while it cannot see it. Every other failure is raised as is.
    """
    deadline = time.monotonic() + timeout
    while True:
        try:
            return norviktarn.Client(*args, **kwargs)
        except RuntimeError as e:
            if not str(e).startswith(NOT_FOUND) or time.monotonic() >= deadline:
                raise
        time.sleep(0.05)


class Sim:
    """A tarn-sim child process serving one robot."""

    def __init__(self, *args, name="sim", serial=None):
        from tarn_sim.testing import SimProcess

        self.serial = serial or unique_serial(name)
        self.process = SimProcess(self.serial, "--rate", SIM_RATE, *args)

    def start(self):
        self.process.start()
        return self

    def stop(self):
        return self.process.stop()

    @property
    def stderr(self):
        return self.process.stderr

    def control(self, changes):
        """Change the simulator's fault switches at run time.

        Runs in a child process, so this test process keeps the one Zenoh
        session that the module opens.
        """
        env = dict(os.environ, PYTHONPATH=str(SIM_DIR))
        done = subprocess.run(
            [sys.executable, "-m", "tarn_sim.control", self.serial, json.dumps(changes)],
            env=env, capture_output=True, text=True, timeout=30)
        assert done.returncode == 0, "control %r refused: %s" % (changes, done.stderr)
        return json.loads(done.stdout)

    def wait_for_streams(self, client, timeout=10.0):
        """Wait until the client holds a consistent sample of both streams."""
        wait_until(lambda: client.states() and client.actions(), timeout, what="stream samples of " + self.serial)


class Ticker:
    """A Python thread that runs all the time; the longest gap between its
    ticks over a call shows how long that call kept the interpreter lock."""

    def __init__(self):
        self._ticks = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            self._ticks.append(time.monotonic())
            time.sleep(0.001)

    def __enter__(self):
        self._thread.start()
        wait_until(lambda: len(self._ticks) > 10, what="the ticking thread")
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(timeout=10)

    def longest_gap(self, started, finished):
        during = [t for t in list(self._ticks) if started <= t <= finished]
        return max(b - a for a, b in zip([started] + during, during + [finished]))

    def time(self, call, *args, **kwargs):
        """(what call returned or raised, seconds it took, longest gap of the ticks meanwhile)"""
        started = time.monotonic()
        try:
            outcome = call(*args, **kwargs)
        except Exception as e:  # the caller checks what was raised
            outcome = e
        finished = time.monotonic()
        return outcome, finished - started, self.longest_gap(started, finished)
