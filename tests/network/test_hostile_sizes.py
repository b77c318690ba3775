"""A peer sends the client a 64 MiB and a 512 MiB sample on the robot's stream key, and replies of those sizes.

The robot (tarn-sim) and the client are peers on loopback; the hostile peer
(tests/peers/hostile_sizes.py) connects to the client. With Zenoh's default
largest message (1 GiB) the client takes each one whole, finds it is no
sample or reply of the robot's and drops it; with the recipe's 1 MiB Zenoh
drops it before it is put together. Either way the client keeps reading the
robot and never sees a part of one. With the 1 MiB limit its requests are
answered once the peer is quiet and its memory stays where it was; with
Zenoh's default neither holds (the figures say by how much), which is why
the recipe sets the limit.
"""

import json
import os
import subprocess
import sys
import time

import pytest

from conftest import ROOT, OutputLines, figure
from topology import Topology, require_isolation

WATCH = ROOT / "tests" / "network" / "watch_client.py"
HOSTILE = ROOT / "tests" / "peers" / "hostile_sizes.py"
ROBOT_ENDPOINT, CLIENT_ENDPOINT = "tcp/127.0.0.1:7800", "tcp/127.0.0.1:7801"
MIB = 1 << 20
RECIPE_LIMIT = MIB
QUIET_AFTER = 6.0  # seconds the client is watched after the peer is done


def _peer_config(path, listen=None, connect=None, max_message_size=None):
    config = {"mode": "peer", "scouting": {"multicast": {"enabled": False}}}
    if listen:
        config["listen"] = {"endpoints": [listen]}
    if connect:
        config["connect"] = {"endpoints": [connect]}
    if max_message_size:
        config["transport"] = {"link": {"rx": {"max_message_size": max_message_size}}}
    path.write_text(json.dumps(config))
    return path


@pytest.mark.parametrize("limit", [None, RECIPE_LIMIT], ids=["zenoh-default", "recipe-1MiB"])
def test_hostile_sizes_neither_break_nor_bloat_the_client(tmp_path, limit):
    from conftest import BUILD_DIR
    from tarn_sim.testing import SimProcess

    require_isolation()
    serial = "Rizon-4s-BIG%03d" % (id(tmp_path) % 1000)
    env = dict(os.environ, PYTHONPATH="%s:%s" % (BUILD_DIR / "python", ROOT / "python"),
               ZENOH_CONFIG=str(_peer_config(tmp_path / "client.json5", CLIENT_ENDPOINT, ROBOT_ENDPOINT, limit)))
    with Topology() as net:
        host = net.host("plant")
        robot = SimProcess(serial, "--config", _peer_config(tmp_path / "robot.json5", listen=ROBOT_ENDPOINT),
                           command_prefix=host.command([]))
        robot.start()
        try:
            client = host.spawn([sys.executable, WATCH, "--serial", serial, "--seconds", "60"],
                                stdout=subprocess.PIPE, env=env)
            client.lines = OutputLines(client.stdout)
            client.lines.wait_for('"ev": "rss"', 30)
            hostile = host.spawn([sys.executable, HOSTILE, "--serial", serial, "--connect", CLIENT_ENDPOINT],
                                 stdout=subprocess.PIPE)
            hostile.lines = OutputLines(hostile.stdout)
            hostile.lines.wait_for('"ev": "done"', 90)
            done = hostile.lines.json()[-1]["t"]
            _wait_past(client.lines, done + 1.0 + QUIET_AFTER, QUIET_AFTER + 20)
        finally:
            robot.stop()
    events = client.lines.json()
    _judge(events, hostile.lines.json(), done, limit)


def _wait_past(lines, t, timeout):
    deadline = time.monotonic() + timeout
    while not any(e["ev"] == "rss" and e["t"] > t for e in lines.json()):
        assert time.monotonic() < deadline, lines.lines[-5:]
        time.sleep(0.1)


def _judge(events, sent, done, limit):
    rss = [e for e in events if e["ev"] == "rss"]
    first_big = next(e["t"] for e in sent if e["ev"] == "sample")
    before = [e["rss"] for e in rss if e["t"] < first_big]
    during = [e["rss"] for e in rss if first_big <= e["t"] <= done + 1.0]
    after = [e for e in rss if e["t"] > done + 1.0]
    # the last reply may still be on its way when the peer says it is done: from the first answer on
    asks = [e for e in events if e["ev"] == "ask" and e["start"] > done]
    again = next((i for i, e in enumerate(asks) if e["ok"]), len(asks))
    asks_after = asks[again:]
    samples_after = after[-1]["samples"] - after[0]["samples"]
    baseline, peak, end = max(before), max(during + before), after[-1]["rss"]
    figure("hostile sizes, largest message %s: client RSS %.0f MiB before, %.0f MiB at most while the 64 and "
           "512 MiB messages came, %.0f MiB %.0f s after; %d robot samples in that time; requests answered "
           "again %s after the peer was done, then %d of %d"
           % ("Zenoh's default 1 GiB" if limit is None else "%d MiB" % (limit // MIB), baseline / MIB, peak / MIB,
              end / MIB, QUIET_AFTER, samples_after,
              "%.1f s" % (asks_after[0]["t"] - done) if asks_after else "never",
              sum(e["ok"] for e in asks_after), len(asks_after)))
    # never a part of one: each was dropped whole, by Zenoh (over the limit) or by the client's decoder
    assert after[-1]["misshapen"] == 0, after[-1]
    assert after[-1]["malformed"] == (2 if limit is None else 0), after[-1]
    # still reading the robot
    assert samples_after > 100 * QUIET_AFTER, after[-1]
    if limit is None:
        # Zenoh's default takes each message whole: requests and memory are left to the figures
        return
    # asking it, and memory back where it was: the messages were never put together
    assert len(asks_after) >= 5 and all(e["ok"] for e in asks_after), asks
    assert peak <= baseline + 32 * MIB and end <= baseline + 32 * MIB, (baseline, peak, end)
