"""Helpers for the tarn command's tests: running the tool, simulated robots, a pseudo-terminal."""

import fcntl
import itertools
import os
import select
import struct
import subprocess
import sys
import termios
import threading
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("NORVIK_TARN_BUILD_DIR", ROOT / "build")).resolve()
MODULE_DIR = BUILD_DIR / "python"
SIM_DIR = ROOT / "sim"
TOOL_DIR = ROOT / "python"

_serials = itertools.count(1)


def require_isolation():
    # Zenoh scouts the network: sessions only ever open inside tools/isolated
    if os.environ.get("TARN_ISOLATED") != "1":
        pytest.fail("tests that open Zenoh sessions must run under tools/isolated", pytrace=False)


def unique_serial(name):
    return "CLI%d-%s%d" % (os.getpid(), name, next(_serials))


def tool_env(first=()):
    """The tool from python/, the module from the build tree; `first` shadows installed packages."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(p) for p in first] + [str(MODULE_DIR), str(TOOL_DIR)])
    env.pop("COLUMNS", None)
    return env


class Done:
    def __init__(self, returncode, stdout, stderr, seconds):
        self.returncode, self.stdout, self.stderr, self.seconds = returncode, stdout, stderr, seconds

    def __repr__(self):
        return "<tarn exit %s after %.1f s\nstdout:\n%s\nstderr:\n%s>" % (
            self.returncode, self.seconds, self.stdout[-3000:], self.stderr[-3000:])


def tarn(*args, timeout=60, env=None, cwd=None):
    """Runs `python -m tarn_cli ARGS` to the end; its output as text."""
    start = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "tarn_cli"] + [str(a) for a in args], env=env or tool_env(),
                          capture_output=True, text=True, timeout=timeout, stdin=subprocess.DEVNULL, cwd=cwd)
    return Done(done.returncode, done.stdout, done.stderr, time.monotonic() - start)


def record_whole(*args, tries=3):
    """`tarn record ARGS` for a fixture that needs a whole recording: a run in which
    the simulator skipped ticks (a busy machine: holes in the robot's stamps, which
    the tool rightly reports as never arrived) is made again, up to `tries` times."""
    for _ in range(tries):
        done = tarn("record", *args)
        if not (done.returncode == 1 and "never arrived, 0 dropped by the tool, 0 malformed" in done.stdout + done.stderr):
            break
    return done


def start_tarn(*args, env=None, **kwargs):
    return subprocess.Popen([sys.executable, "-m", "tarn_cli"] + [str(a) for a in args], env=env or tool_env(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **kwargs)


def one_error_line(done, starts):
    """The tool failed with exactly one line on stderr, beginning `starts`, and no traceback."""
    lines = done.stderr.strip().splitlines()
    assert len(lines) == 1, done
    assert lines[0].startswith(starts), done
    assert "Traceback" not in done.stderr
    return lines[0]


def wait_until(predicate, timeout=10.0, interval=0.01, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            pytest.fail("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Robot:
    """A tarn-sim child process serving one robot."""

    def __init__(self, *args, name="sim", rate=200, profile="dual", serial=None):
        from tarn_sim.testing import SimProcess

        self.serial = serial or unique_serial(name)
        self.process = SimProcess(self.serial, "--rate", str(rate), "--profile", profile, *args)
        self.prefix = self.process.prefix

    def start(self):
        self.process.start()
        return self

    def stop(self):
        return self.process.stop()

    @property
    def stats(self):
        return self.process.stats


class PtyTool:
    """The tool on a pseudo-terminal of a given size; a thread keeps reading what it draws."""

    def __init__(self, *args, rows=50, cols=120, env=None):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        self.modes_before = termios.tcgetattr(self.slave)
        env = dict(env or tool_env(), TERM="xterm")
        # a session of its own with the pty as controlling terminal, so Ctrl-C becomes SIGINT
        self.proc = subprocess.Popen([sys.executable, "-m", "tarn_cli"] + [str(a) for a in args],
                                     stdin=self.slave, stdout=self.slave, stderr=self.slave, env=env,
                                     start_new_session=True, close_fds=True,
                                     preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        self._lock = threading.Lock()
        self._data = b""
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        while True:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    chunk = os.read(self.master, 65536)
                except OSError:
                    return
                if not chunk:
                    return
                with self._lock:
                    self._data += chunk
            elif self.proc.poll() is not None and not ready:
                # drained after exit
                return

    @property
    def output(self):
        with self._lock:
            return self._data.decode("utf-8", "replace")

    def frames(self):
        """The screens drawn so far (each redraw starts at the cursor's home position), lines split by \\n."""
        return self.output.replace("\r", "").split("\x1b[H")[1:]

    def wait_for(self, predicate, timeout=20.0, what="screen"):
        return wait_until(lambda: predicate(self), timeout, what=what)

    def send(self, data):
        os.write(self.master, data)

    def wait(self, timeout=15.0):
        self.proc.wait(timeout)
        self._reader.join(5.0)
        return self.proc.returncode

    def modes(self):
        return termios.tcgetattr(self.slave)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
