"""The simulator as a process, seen over Zenoh from this test process."""

import json
import os
import signal
import subprocess
import sys
import time

import pytest

from tarn_sim import control as control_mod
from tarn_sim.cli import parser
from tarn_sim.groups import ALL, ARM_1, ARM_2, ARMS, DUAL, EXT_AXIS, SINGLE
from tarn_sim.testing import SCRIPT, Recorder, SimProcess, control, request, wait_until

# every test here starts simulators; should one be accepted by mistake, its session stays in the namespace
pytestmark = pytest.mark.usefixtures("isolated")

ALL_GROUPS = [ALL, ARMS, ARM_1, ARM_2, EXT_AXIS]
RATE = 250.0
PERIOD_NS = round(1e9 / RATE)


def serial(name):
    return "T%d-%s" % (os.getpid(), name)


def stamp_ns(msg):
    return msg["stamp_sec"] * 1_000_000_000 + msg["stamp_nanosec"]


@pytest.fixture(scope="module")
def dual_sim(isolated):
    with SimProcess(serial("dual"), "--stamp-from-counter", "--rate", str(RATE)) as sim:
        yield sim


@pytest.fixture
def sim(dual_sim, session):
    control(session, dual_sim.prefix, {"reset": True})
    yield dual_sim
    control(session, dual_sim.prefix, {"reset": True})


def only_reply(session, prefix, code, groups=(), timeout=2.0):
    replies = request(session, prefix, code, groups, timeout)
    assert len(replies) == 1, replies
    return replies[0]


# -- life cycle ----------------------------------------------------------------


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_ready_line_then_clean_exit(session, sig):
    sim = SimProcess(serial("life"), "--profile", "single", "--rate", "100").start()
    assert sim.ready_line == "ready norvik/robot/" + sim.serial
    with Recorder(session, sim.prefix, "basic") as basic:
        basic.wait_for(1)
    assert sim.stop(sig) == 0
    assert sim.stdout_rest == ""  # nothing but the ready line on stdout
    assert sim.stats["samples"] >= 1 and "cpu" in sim.stats


def test_duration_stops_by_itself():
    sim = SimProcess(serial("dur"), "--rate", "200", "--duration", "0.3", "--stamp-from-counter").start()
    sim.proc.wait(timeout=10)
    assert sim.stop() == 0
    assert 30 <= sim.stats["samples"] <= 80


def test_exits_with_its_parent():
    starter = (
        "import subprocess, sys\n"
        "p = subprocess.Popen([sys.executable, %r, '--serial', %r, '--exit-with-parent', '--rate', '50'],"
        " stdout=subprocess.PIPE)\n"
        "print(p.stdout.readline().decode().strip(), p.pid, flush=True)\n" % (SCRIPT, serial("orphan"))
    )
    out = subprocess.run([sys.executable, "-c", starter], capture_output=True, text=True, timeout=30).stdout.split()
    assert out[0] == "ready"
    pid = int(out[-1])

    def gone():
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().split(") ")[1][0] == "Z"
        except FileNotFoundError:
            return True

    wait_until(gone, 10.0, what="orphaned simulator to stop")


def test_help_documents_every_option():
    out = subprocess.run([sys.executable, SCRIPT, "--help"], capture_output=True, text=True, timeout=30)
    assert out.returncode == 0
    options = [o for a in parser()._actions for o in a.option_strings if o.startswith("--")]
    assert len(options) > 20
    for option in options:
        assert option in out.stdout, option


@pytest.mark.parametrize("args", [
    [],
    ["--serial", "X", "--rate", "0"],
    ["--serial", "X", "--rpc-fault", "1=explode"],
    ["--serial", "X", "--malformed", "basic=cut:2"],
    ["--serial", "X", "--settings", "{\"bogus\": 1}"],
    ["--serial", "X", "--profile", "triple"],
    ["--serial", "SN-*"],
    ["--serial", ""],
    ["--serial", "X", "--config", "/no/such.json5"],
    ["--serial", "X", "--config", "/no/such.json5", "--connect", "tcp/198.18.0.1:7447"],
])
def test_bad_arguments_are_refused(args):
    out = subprocess.run([sys.executable, SCRIPT] + args, capture_output=True, text=True, timeout=30)
    assert out.returncode == 2 and "ready" not in out.stdout and out.stderr


def test_unreachable_router_is_one_line_and_status_1():
    out = subprocess.run([sys.executable, SCRIPT, "--serial", "X-1", "--connect", "tcp/198.18.0.1:9"],
                         capture_output=True, text=True, timeout=30)
    assert out.returncode == 1 and "ready" not in out.stdout
    assert out.stderr == "tarn-sim: cannot open the Zenoh session: Unable to connect to any of " \
                         "[Single(tcp/198.18.0.1:9)]. Timeout!\n"


# -- streams -------------------------------------------------------------------


def check_layout(basic, extra, profile):
    groups = list(profile.listed)
    assert basic["joint_groups"] == groups == extra["joint_groups"]
    assert all(len(v) == profile.dof for v in basic["joint_data"].values())
    assert len(basic["cartesian_data"]) == len(groups) == len(extra["cartesian_data"])
    assert len(extra["q_d"]) == profile.dof


def test_dual_streams_over_zenoh(sim, session):
    with Recorder(session, sim.prefix, "basic") as basic, Recorder(session, sim.prefix, "extra") as extra:
        b = basic.decoded(5)
        e = extra.decoded(5)
    for m, x in zip(b, e):
        check_layout(m, x, DUAL)
    stamps = [stamp_ns(m) for m in b]
    assert all(later > earlier for earlier, later in zip(stamps, stamps[1:]))


def test_single_streams_and_layout_over_zenoh(session):
    with SimProcess(serial("single"), "--profile", "single", "--rate", "200") as sim:
        with Recorder(session, sim.prefix, "basic") as basic, Recorder(session, sim.prefix, "extra") as extra:
            check_layout(basic.decoded(3)[-1], extra.decoded(3)[-1], SINGLE)
        sim.wait_discovered(session)
        r = only_reply(session, sim.prefix, 10, ALL_GROUPS).ok
        assert r["int_container"] == [0, 0, 0, 7, 7] and r["float_container"] == [7.0, 7.0, 7.0, 0.0, 0.0]


def test_counter_stamps_show_no_sample_lost(session):
    with SimProcess(serial("count"), "--stamp-from-counter", "--rate", str(RATE)) as sim:
        with Recorder(session, sim.prefix, "basic") as basic:
            msgs = basic.decoded(100)
        assert sim.stop() == 0
    numbers = [stamp_ns(m) / PERIOD_NS for m in msgs]
    assert all(n == int(n) for n in numbers)
    assert numbers == list(range(int(numbers[0]), int(numbers[0]) + 100))
    assert sim.stats["samples"] >= numbers[-1]


def test_wall_clock_stamps(session):
    with SimProcess(serial("wall"), "--rate", "100", "--profile", "single") as sim:
        with Recorder(session, sim.prefix, "basic") as basic:
            msgs = basic.decoded(10)
    now = time.time()
    stamps = [stamp_ns(m) for m in msgs]
    assert abs(stamps[-1] / 1e9 - now) < 5.0
    steps = {b - a for a, b in zip(stamps, stamps[1:])}
    assert all(s > 0 and s % 10_000_000 == 0 for s in steps)


# -- requests ------------------------------------------------------------------


def test_every_request_code_over_zenoh(sim, session):
    probe = only_reply(session, sim.prefix, 0).ok
    assert probe["request_id"] == 0 and probe["success"] is False
    version = only_reply(session, sim.prefix, 1).ok
    assert version["success"] and version["string_container"] == ["v2.1"]
    pt = only_reply(session, sim.prefix, 3).ok
    assert pt["success"] and [s for s in pt["string_container"] if s.startswith("jointGroup = ")] == [
        "jointGroup = %d" % g for g in DUAL.listed]
    plan = only_reply(session, sim.prefix, 4).ok
    assert plan["success"] and len(plan["string_container"]) == 8
    manip = only_reply(session, sim.prefix, 9).ok
    assert manip["joint_groups"] == list(DUAL.listed) and [len(v) for v in manip["float2d_container"]] == [8] * 4
    ids = only_reply(session, sim.prefix, 10, ALL_GROUPS).ok
    assert ids["joint_groups"] == ALL_GROUPS and ids["int_container"] == [0, 0, 0, 7, 14]
    assert ids["float_container"] == [15.0, 14.0, 7.0, 7.0, 1.0]
    assert only_reply(session, sim.prefix, 6).ok["success"] is False


@pytest.mark.parametrize("mode", ["drop", "error", "fail", "wrong-id", "delay:400"])
def test_delivery_faults_over_zenoh(sim, session, mode):
    control(session, sim.prefix, {"rpc": {"4": mode}})
    start = time.monotonic()
    replies = request(session, sim.prefix, 4, timeout=5.0)
    elapsed = time.monotonic() - start
    if mode == "drop":
        assert replies == [] and elapsed < 2.5  # ended at once, not timed out
    elif mode == "error":
        assert len(replies) == 1 and replies[0].ok is None and replies[0].err
    elif mode == "fail":
        assert replies[0].ok["success"] is False and replies[0].ok["request_id"] == 4
    elif mode == "wrong-id":
        assert replies[0].ok["success"] is True and replies[0].ok["request_id"] == 5
    else:
        assert replies[0].ok["success"] and elapsed >= 0.4
    # other codes are untouched
    assert only_reply(session, sim.prefix, 1).ok["string_container"] == ["v2.1"]


def test_content_faults_at_run_time(sim, session):
    control(session, sim.prefix, {"version_reply": "v2.1 ", "start_id": "nan-dof", "plan": "bad-velocity",
                                  "manipulability": "short", "primitive_corrupt": 1})
    assert only_reply(session, sim.prefix, 1).ok["string_container"] == ["v2.1 "]
    dof = only_reply(session, sim.prefix, 10, ALL_GROUPS).ok["float_container"][0]
    assert dof != dof
    assert only_reply(session, sim.prefix, 4).ok["string_container"][6] == "abc"
    assert len(only_reply(session, sim.prefix, 9).ok["float2d_container"][0]) == 7
    assert "" in only_reply(session, sim.prefix, 3).ok["string_container"]
    assert "" not in only_reply(session, sim.prefix, 3).ok["string_container"]


def test_malformed_request_gets_an_error_reply(sim, session):
    for payload in (b"\x01", b"\x01\x00\x00\x07"):
        replies = list(session.get(sim.prefix + "/rpc", payload=payload, timeout=2.0))
        assert len(replies) == 1 and replies[0].ok is None


# -- stream faults ---------------------------------------------------------------


def fresh(recorder, n, skip=3):
    """n samples sent after a change (the first few may predate it)."""
    recorder.clear()
    return recorder.wait_for(n + skip)[skip:]


def test_malformed_ratio_over_zenoh(sim, session):
    with Recorder(session, sim.prefix, "basic") as basic, Recorder(session, sim.prefix, "extra") as extra:
        control(session, sim.prefix, {"malformed": {"basic": "cut:0.5"}})
        got = fresh(basic, 40)
        bad = sum(1 for _, d, _ in got if d is None)
        assert 16 <= bad <= 24
        assert all(d is not None for _, d, _ in fresh(extra, 10))
        control(session, sim.prefix, {"malformed": {"both": "prefix"}})
        assert all(d is None for _, d, _ in fresh(basic, 10))
        assert all(d is None for _, d, _ in fresh(extra, 10))
    status = control(session, sim.prefix)["status"]
    assert status["malformed"]["basic"] >= 30 and status["malformed"]["extra"] >= 10


def test_inconsistent_invalid_group_and_overrides(sim, session):
    with Recorder(session, sim.prefix, "basic") as basic, Recorder(session, sim.prefix, "extra") as extra:
        control(session, sim.prefix, {"inconsistent": {"basic": True}, "invalid_group": {"extra": 1},
                                      "system_state": 14, "safety_board_state": 40, "estop_released": False})
        m = fresh(basic, 1)[0][1]
        x = fresh(extra, 1)[0][1]
    assert len(m["cartesian_data"]) == len(m["joint_groups"]) + 1
    assert x["joint_groups"] == list(DUAL.listed) + [1] and len(x["cartesian_data"]) == 5
    assert (m["system_state"], m["safety_board_state"], m["estop_released"]) == (14, 40, False)


def test_paused_streams_publish_nothing(sim, session):
    control(session, sim.prefix, {"paused": True})
    before = control(session, sim.prefix)["status"]
    wait_until(lambda: control(session, sim.prefix)["status"]["sim_time"] > before["sim_time"] + 0.3, 5.0)
    assert control(session, sim.prefix)["status"]["published"] == before["published"]
    control(session, sim.prefix, {"paused": False})
    wait_until(lambda: control(session, sim.prefix)["status"]["published"] > before["published"], 5.0)


def test_requests_only(session):
    with SimProcess(serial("nostreams"), "--no-streams", "--profile", "single", "--plan-fault", "long") as sim:
        sim.wait_discovered(session)
        assert len(only_reply(session, sim.prefix, 4, timeout=5.0).ok["string_container"]) == 9
        status = control(session, sim.prefix)["status"]
        assert status["streams"] is False and status["published"] == 0


# -- control protocol ------------------------------------------------------------


def test_control_refuses_bad_changes(sim, session):
    before = control(session, sim.prefix)["settings"]
    for payload in (b"{not json", b"[1]", json.dumps({"rpc": {"3": "later"}}).encode()):
        replies = list(session.get(sim.prefix + control_mod.SUFFIX, payload=payload, timeout=2.0))
        assert len(replies) == 1 and replies[0].ok is None and replies[0].err.payload.to_bytes()
    assert control(session, sim.prefix)["settings"] == before


def test_stops_cleanly_with_a_delayed_reply_pending(session):
    with SimProcess(serial("pending"), "--no-streams", "--rpc-fault", "4=delay:20000") as sim:
        sim.wait_discovered(session)
        replies = []
        session.get(sim.prefix + "/rpc", lambda r: replies.append(r), payload=b"\x04\x00\x00", timeout=30.0)
        wait_until(lambda: control(session, sim.prefix)["status"]["requests"] == 1, 5.0)
        start = time.monotonic()
        assert sim.stop() == 0
        assert time.monotonic() - start < 5.0
    assert replies == []
