"""Helpers for tests that run tarn-sim: start and stop it, talk to it, record its streams.

    with SimProcess("SN-1", "--profile", "single") as sim:
        with zenoh.open(zenoh.Config()) as session:
            control(session, sim.prefix, {"plan": "short"})
            reply = request(session, sim.prefix, 4)

Every process that opens a Zenoh session belongs in a private network
namespace (tools/isolated).
"""

import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time

from . import control as _control
from . import key_prefix, wire

SIM_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = os.path.join(SIM_DIR, "tarn-sim")
_STATS = re.compile(r"(\w+)=([-+0-9.]+)")


class SimError(RuntimeError):
    pass


def wait_until(predicate, timeout, interval=0.005, what="condition"):
    """Poll until predicate() is truthy; returns its value, or raises TimeoutError."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(interval)


class SimProcess:
    """A tarn-sim child process: started on enter, ready when it says so, stopped on exit."""

    def __init__(self, serial, *args, python=None, ready_timeout=20.0, exit_with_parent=True, command_prefix=()):
        """`command_prefix` runs the simulator through another command, such as nsenter into a test host."""
        self.serial = serial
        self.prefix = key_prefix(serial)
        self.argv = list(command_prefix) + [python or sys.executable, SCRIPT, "--serial", serial]
        if exit_with_parent:
            self.argv.append("--exit-with-parent")
        self.argv += list(args)
        self.ready_timeout = ready_timeout
        self.proc = None
        self.ready_line = None
        self.returncode = None
        self.stdout_rest = None
        self._stderr = None
        self._stderr_text = None

    def start(self):
        self._stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(self.argv, stdout=subprocess.PIPE, stderr=self._stderr, stdin=subprocess.DEVNULL)
        fd = self.proc.stdout.fileno()
        deadline = time.monotonic() + self.ready_timeout
        buf = b""
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([fd], [], [], left)
            if not ready:
                break
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            buf += chunk
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                if line.startswith(b"ready"):
                    self.ready_line = line.decode()
                    return self
        self.kill()
        raise SimError("tarn-sim did not become ready; stderr:\n" + self.stderr)

    def stop(self, sig=signal.SIGTERM, timeout=10.0):
        """Signal the simulator and wait for it; returns its exit code (killed after timeout)."""
        if self.proc is None:
            return self.returncode
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self._reap()

    def kill(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._reap()

    def _reap(self):
        if self.proc is not None:
            self.returncode = self.proc.returncode
            self.stdout_rest = self.proc.stdout.read().decode("utf-8", "replace")  # should stay empty
            self.proc.stdout.close()
            self.proc = None
        return self.returncode

    def wait_discovered(self, session, timeout=10.0):
        """Wait until `session` reaches the simulator's queryables; returns its status.

        "ready" means declared, not yet known to other sessions: a request
        sent before discovery ends at once with no reply at all.
        """
        return control(session, self.prefix, None, timeout)["status"]

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    @property
    def stderr(self):
        """Everything the simulator logged (complete once it has stopped)."""
        if self._stderr is None:
            return ""
        if self._stderr_text is None or self.proc is not None:
            self._stderr.seek(0)
            text = self._stderr.read().decode("utf-8", "replace")
            if self.proc is not None:
                return text
            self._stderr_text = text
        return self._stderr_text

    @property
    def stats(self):
        """Counters of the simulator's closing line, as floats (after stop)."""
        for line in self.stderr.splitlines():
            if line.startswith("tarn-sim: stopped:"):
                return {k: float(v) for k, v in _STATS.findall(line)}
        return None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


def control(session, prefix, changes=None, timeout=10.0):
    """Send a control change, retrying until the simulator is discovered or timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return _control.send(session, prefix, changes, timeout=min(1.0, max(0.1, deadline - time.monotonic())))
        except TimeoutError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(0.01)  # not discovered yet: the query came back empty at once


class Reply:
    """One reply to a request: .ok is the decoded RPCReply (dict) or None, .err the error bytes."""

    def __init__(self, ok=None, err=None, raw=None):
        self.ok, self.err, self.raw = ok, err, raw


def request(session, prefix, code, groups=(), timeout=2.0):
    """Send one request; returns the list of Reply objects (empty: no reply)."""
    out = []
    for r in session.get(prefix + "/rpc", payload=wire.encode_request(code, groups), timeout=timeout):
        if r.ok is not None:
            raw = r.ok.payload.to_bytes()
            out.append(Reply(ok=wire.decode_reply(raw), raw=raw))
        else:
            out.append(Reply(err=r.err.payload.to_bytes()))
    return out


class Recorder:
    """Subscribes to one stream and keeps every sample: raw bytes and the strict decoding.

    .samples is a list of (raw, decoded or None, error or None), in arrival order.
    """

    def __init__(self, session, prefix, stream="basic"):
        self._decode = wire.decode_basic if stream == "basic" else wire.decode_extra
        self._cond = threading.Condition()
        self.samples = []
        self._sub = session.declare_subscriber(prefix + "/" + stream + "_stream_data", self._on_sample)

    def _on_sample(self, sample):
        raw = sample.payload.to_bytes()
        try:
            entry = (raw, self._decode(raw), None)
        except wire.WireError as e:
            entry = (raw, None, e)
        with self._cond:
            self.samples.append(entry)
            self._cond.notify_all()

    def clear(self):
        with self._cond:
            self.samples = []

    def wait_for(self, n, timeout=10.0):
        """Wait until n samples have arrived (since the last clear); returns a copy of them."""
        with self._cond:
            if not self._cond.wait_for(lambda: len(self.samples) >= n, timeout):
                raise TimeoutError("%d of %d samples arrived" % (len(self.samples), n))
            return list(self.samples)

    def decoded(self, n, timeout=10.0):
        """The first n samples (since the last clear), decoded; None for a malformed one."""
        return [d for _, d, _ in self.wait_for(n, timeout)[:n]]

    def close(self):
        self._sub.undeclare()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
