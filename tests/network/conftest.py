"""The routed topology: the robot (tarn-sim), a Zenoh router (zenohd) and the client, each in a namespace.

    robot 198.18.1.2 --- 198.18.1.1 router 198.18.2.1 --- 198.18.2.2 client

The robot and the client only reach each other through zenohd: no route, no
multicast between them. Set NORVIK_NETWORK_LONG=1 for the long forms
(tools/run-network.sh long).
"""

import json
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

from topology import Topology, require_isolation, stop

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("NORVIK_TARN_BUILD_DIR", ROOT / "build")).resolve()
ZENOHD = Path(os.environ.get("NORVIK_ZENOHD", Path.home() / ".cache/norvik-tarn/zenohd/bin/zenohd"))
PROBE = BUILD_DIR / "bin" / "tarn_net_probe"
CLIENT_CONFIG = ROOT / "examples" / "zenoh" / "client-via-router.json5"
ROUTER_CONFIG = ROOT / "examples" / "zenoh" / "router.json5"
ROBOT_SIDE = "tcp/198.18.1.1:7447"
CLIENT_SIDE = "tcp/198.18.2.1:7447"
LONG = os.environ.get("NORVIK_NETWORK_LONG") == "1"

sys.path.insert(0, str(ROOT / "sim"))


def pytest_report_header(config):
    return "router: %s%s" % (ZENOHD, " (long forms)" if LONG else "")


def figure(text):
    """A measured figure: printed in the test log (pytest -s, or on failure)."""
    print("[ figure   ] " + text, flush=True)


class OutputLines:
    """Drains a process's output on a thread, so it never blocks, and keeps its lines."""

    def __init__(self, stream):
        self.lines = []
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            with self._cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self._cond.notify_all()
        stream.close()

    def wait_for(self, text, timeout):
        with self._cond:
            if not self._cond.wait_for(lambda: any(text in line for line in self.lines), timeout):
                raise TimeoutError("no %r within %g s; output:\n%s" % (text, timeout, "\n".join(self.lines[-40:])))

    def wait_closed(self, timeout):
        """Waits until the process has closed its output, so every line it wrote is here."""
        self._thread.join(timeout)

    def json(self):
        with self._cond:
            return [json.loads(line) for line in self.lines if line.startswith("{")]


class Routed:
    def __init__(self, net):
        self.net = net
        self.robot, self.router, self.client = net.host("robot"), net.host("router"), net.host("client")
        self.robot_link = net.link(self.robot, self.router, 1)
        self.client_link = net.link(self.client, self.router, 2)
        self.serial = "Rizon-4s-NET%03d" % (os.getpid() % 1000)
        self.zenohd = None
        self.sim = None

    # -- the router ---------------------------------------------------------

    def start_router(self, config=ROUTER_CONFIG):
        if not ZENOHD.exists():
            pytest.fail("no zenohd at %s: tools/zenohd.sh builds it" % ZENOHD, pytrace=False)
        if self.zenohd is not None:
            stop(self.zenohd[0])
        proc = self.router.spawn([ZENOHD, "-c", config], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 env=dict(os.environ, RUST_LOG="info"))
        self.zenohd = (proc, OutputLines(proc.stdout))
        self.zenohd[1].wait_for("Zenoh can be reached at", 20)
        return time.monotonic()

    def kill_router(self):
        stop(self.zenohd[0], sig=9)
        return time.monotonic()

    # -- the robot ----------------------------------------------------------

    def start_robot(self, *args, config=None):
        """tarn-sim on the robot's host, connected to ROBOT_SIDE or through the Zenoh file `config`."""
        from tarn_sim.testing import SimProcess

        network = ("--config", config) if config else ("--connect", ROBOT_SIDE)
        self.sim = SimProcess(self.serial, *network, *args, python=sys.executable,
                              command_prefix=self.robot.command([]))
        self.sim.start()
        return self.sim

    # -- the client's side --------------------------------------------------

    def env(self, **extra):
        env = dict(os.environ)
        env.pop("ZENOH_CONFIG", None)
        env["PYTHONPATH"] = os.pathsep.join([str(BUILD_DIR / "python"), str(ROOT / "python")])
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def run_client(self, argv, timeout=60, **env):
        return self.client.run(argv, check=False, timeout=timeout, env=self.env(**env))

    def tarn(self, *args, timeout=60, **env):
        return self.run_client([sys.executable, "-m", "tarn_cli"] + list(args), timeout=timeout, **env)

    def probe(self, *args, **env):
        """tarn_net_probe on the client's side, started; .lines collects its JSON lines."""
        proc = self.client.spawn([PROBE, "--serial", self.serial] + list(args), stdout=subprocess.PIPE,
                                 env=self.env(**env))
        proc.lines = OutputLines(proc.stdout)
        wait = proc.wait

        def wait_with_lines(timeout=None):
            # the process may end before its last line is read: every line is in .lines once this returns
            status = wait(timeout)
            proc.lines.wait_closed(10)
            return status

        proc.wait = wait_with_lines
        return proc


@pytest.fixture
def routed():
    """Robot, router and client hosts; the router and the robot running."""
    require_isolation()
    if not PROBE.exists():
        pytest.fail("no %s: build the project first" % PROBE, pytrace=False)
    with Topology() as net:
        r = Routed(net)
        try:
            r.start_router()
            r.start_robot()
            yield r
        finally:
            if r.sim is not None:
                r.sim.stop()
