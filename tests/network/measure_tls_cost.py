"""What the secure recipe costs: plain TCP (router.json5) beside mutual TLS with access control
(secure-router.json5), measured in the same run, in the routed topology.

    tools/isolated .venv/bin/python tests/network/measure_tls_cost.py [--rounds N] [--seconds S]

For each link, one after the other and N rounds alternating: the time a Zenoh
session takes to open from the client's host (eclipse-zenoh, 10 opens), the
time a norviktarn.Client takes to connect (5 connections), and the CPU the
client (tarn_net_probe), the router and the robot (tarn-sim publishing the
dual-arm stream pair at 1 kHz) use over S seconds, as a share of one core.
Prints one table, TCP beside TLS.
"""

import argparse
import json
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import recipe  # noqa: E402
from conftest import CLIENT_CONFIG, PROBE, ROOT, Routed  # noqa: E402
from topology import Topology, require_isolation  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
OPEN_TIMES = """
import sys, time, zenoh
config = zenoh.Config.from_file(sys.argv[1])
for _ in range(int(sys.argv[2])):
    start = time.monotonic()
    session = zenoh.open(config)
    print(time.monotonic() - start, flush=True)
    session.close()
"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def measure(plant, client_config, seconds):
    """(session opens in s, Client connections in s, CPU shares of client, router, robot, basic samples/s)."""
    done = plant.run_client([sys.executable, "-c", OPEN_TIMES, client_config, 10], timeout=120)
    assert done.returncode == 0, done.stderr
    opens = [float(x) for x in done.stdout.split()]
    done = plant.run_client([sys.executable, ROOT / "tests" / "network" / "watch_client.py", "--serial",
                             plant.serial, "--connections", 5], timeout=120, ZENOH_CONFIG=client_config)
    attempts = [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]
    assert attempts and all(a["ok"] for a in attempts), done.stdout + done.stderr
    connects = [a["took"] for a in attempts]

    probe = plant.probe("--seconds", seconds + 4, ZENOH_CONFIG=client_config)
    probe.lines.wait_for('"ev": "connected"', 30)
    time.sleep(1.0)
    pids = [probe.pid, plant.zenohd[0].pid, plant.sim.proc.pid]
    start, t0 = [cpu_seconds(p) for p in pids], time.monotonic()
    time.sleep(seconds)
    end, t1 = [cpu_seconds(p) for p in pids], time.monotonic()
    assert probe.wait(60) == 0
    counts = [e for e in probe.lines.json() if e.get("ev") == "count" and t0 <= e["t"] <= t1]
    rate = (counts[-1]["received"] - counts[0]["received"]) / (counts[-1]["t"] - counts[0]["t"])
    return opens, connects, [(e - s) / (t1 - t0) for s, e in zip(start, end)], rate


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rounds", type=int, default=2)
    p.add_argument("--seconds", type=float, default=10.0)
    args = p.parse_args()
    require_isolation()
    if not PROBE.exists():
        sys.exit("no %s: build the project first" % PROBE)
    results = {"tcp": [], "tls": []}
    with tempfile.TemporaryDirectory() as tmp, Topology() as net:
        plant = Routed(net)
        pki = recipe.Pki(Path(tmp), plant.serial)
        configs = {
            "tcp": (None, None, CLIENT_CONFIG),
            "tls": tuple(recipe.example(name, pki, plant.serial, Path(tmp)) for name in
                         ("secure-router.json5", "secure-robot.json5", "secure-client.json5")),
        }
        try:
            for _ in range(args.rounds):
                for link, (router, robot, client) in configs.items():
                    plant.start_router(*([router] if router else []))
                    plant.start_robot(config=robot)
                    results[link].append(measure(plant, client, args.seconds))
                    plant.sim.stop()
                    plant.sim = None
        finally:
            if plant.sim is not None:
                plant.sim.stop()
    report(results, args)


def report(results, args):
    def row(name, pick, fmt):
        values = {link: pick(runs) for link, runs in results.items()}
        print("%-46s %14s %14s" % (name, fmt % values["tcp"], fmt % values["tls"]))

    print("%d rounds, TCP and TLS alternating; CPU over %.0f s, the robot publishing the dual-arm pair at 1 kHz"
          % (args.rounds, args.seconds))
    print("%-46s %14s %14s" % ("", "plain TCP", "mTLS + ACL"))
    row("Zenoh session open, median (ms)",
        lambda r: 1000 * statistics.median(x for o, _, _, _ in r for x in o), "%.1f")
    row("Zenoh session open, slowest (ms)", lambda r: 1000 * max(x for o, _, _, _ in r for x in o), "%.1f")
    row("norviktarn.Client connects, median (ms)", lambda r: 1000 * statistics.median(
        x for _, c, _, _ in r for x in c), "%.0f")
    row("basic samples the client took, per second", lambda r: statistics.mean(x for _, _, _, x in r), "%.0f")
    for i, who in enumerate(("client (tarn_net_probe)", "router (zenohd)", "robot (tarn-sim)")):
        row("CPU of the %s, %% of a core" % who, lambda r, i=i: 100 * statistics.mean(c[i] for _, _, c, _ in r),
            "%.1f")


if __name__ == "__main__":
    main()
