"""Request answers and fault switches, computed without a network."""

import math
import re

import pytest

from tarn_sim import faults, rpc
from tarn_sim.faults import SettingsError, Switchboard
from tarn_sim.groups import ALL, ARM_1, ARM_2, ARMS, DUAL, EXT_AXIS, SINGLE
from tarn_sim.motion import Robot
from tarn_sim.schedule import Ticker

ALL_GROUPS = [ALL, ARMS, ARM_1, ARM_2, EXT_AXIS]


def answers(profile=DUAL, **settings):
    board = Switchboard(settings)
    return rpc.Answers(profile, Robot(profile), board), board


def typed(value):
    words = value.split()
    if not words:
        return ""
    w = words[0]
    if re.fullmatch(r"-?[0-9]+", w):
        return int(w)
    try:
        return float(w)
    except ValueError:
        return w


def parse_primitives(entries, known):
    """A client's reading of the primitive-state list: {group: (name, {key: value})}."""
    if "" in entries:
        raise ValueError("corrupted")
    groups, current = {}, None
    for e in entries:
        if e.startswith("jointGroup") and len(e) >= 10:
            g = int(e.split("=", 1)[1])
            if g not in known:
                raise ValueError("unknown group")
            if g in groups:
                raise ValueError("duplicate")
            current = groups[g] = []
        elif current is None:
            raise ValueError("missing marker")
        current.append(e)
    out = {}
    for g, items in groups.items():
        values = {}
        for e in items:
            name, value = e.split("=", 1)
            values.setdefault(name[:-1], typed(value))
        assert values.pop("jointGroup") == g
        out[g] = (values.pop("primitiveName"), values)
    return out


# -- good answers ------------------------------------------------------------


def test_probe_version_and_unknown_codes():
    a, _ = answers()
    assert a.answer(0, [], 1.0) == dict(request_id=0, success=False)
    assert a.answer(1, [], 1.0)["strings"] == ["v2.1"] and a.answer(1, [], 1.0)["success"]
    for code in (2, 5, 11, 65535):
        assert a.answer(code, [], 1.0) == dict(request_id=code, success=False)


@pytest.mark.parametrize("profile", [SINGLE, DUAL])
def test_start_ids_follow_the_layout_in_request_order(profile):
    a, _ = answers(profile)
    asked = [EXT_AXIS, ARM_1, ALL, ARM_2, ARMS]
    r = a.answer(10, asked, 0.0)
    assert r["success"] and r["joint_groups"] == asked
    assert r["ints"] == [profile.layout[g][0] for g in asked]
    assert r["floats"] == [float(profile.layout[g][1]) for g in asked]
    assert a.answer(10, [ARM_1, 1], 0.0)["success"] is False


def test_dual_and_single_layouts():
    assert DUAL.layout == {ALL: (0, 15), ARMS: (0, 14), ARM_1: (0, 7), ARM_2: (7, 7), EXT_AXIS: (14, 1)}
    assert SINGLE.layout == {ALL: (0, 7), ARMS: (0, 7), ARM_1: (0, 7), ARM_2: (7, 0), EXT_AXIS: (7, 0)}


@pytest.mark.parametrize("profile", [SINGLE, DUAL])
def test_primitive_states_parse_and_change(profile):
    a, board = answers(profile)
    seen = set()
    for t in [0.37 * k for k in range(35)]:
        parsed = parse_primitives(a.answer(3, [], t)["strings"], set(profile.listed))
        assert sorted(parsed) == sorted(profile.listed)
        name, values = parsed[ARM_1]
        kinds = {type(v) for v in values.values()}
        assert {int, float, str} <= kinds
        seen.add((name, values["timePeriod"]))
    assert len({n for n, _ in seen}) >= 3 and len(seen) >= 20


def test_plan_info_follows_the_plan():
    a, _ = answers()
    nodes = set()
    for t in [0.25 * k for k in range(50)]:
        info = a.answer(4, [], t)["strings"]
        assert len(info) == 8
        assert info[1] in info[2] and info[5] == "PickAndPlace"
        assert 0.0 < float(info[6]) <= 1.0 and info[7] in ("0", "1")
        nodes.add((info[1], info[7]))
    assert len(nodes) == 10 and ("WaitForOperator", "1") in nodes


def test_manipulability_in_range_and_moving():
    a, _ = answers()
    values = set()
    for t in [0.3 * k for k in range(40)]:
        r = a.answer(9, [], t)
        assert r["joint_groups"] == list(DUAL.listed) and len(r["float2d"]) == 4
        for row in r["float2d"]:
            assert len(row) == 8
            assert all(0.0 <= x <= 0.3 for x in row[2:5]) and all(0.0 <= x <= 0.9 for x in row[5:8])
        values.add(round(r["float2d"][1][4], 4))
    assert len(values) > 20


# -- content faults ----------------------------------------------------------


def test_version_faults():
    a, board = answers(version_reply="v2.10")
    assert a.answer(1, [], 0.0)["strings"] == ["v2.10"]
    board.change({"version_reply": None})
    assert a.answer(1, [], 0.0)["strings"] == []


@pytest.mark.parametrize("fault,check", [
    ("size-mismatch", lambda r: len(r["floats"]) == len(r["ints"]) + 1),
    ("negative-dof", lambda r: r["floats"][0] < 0),
    ("nan-dof", lambda r: math.isnan(r["floats"][0])),
    ("inf-dof", lambda r: math.isinf(r["floats"][0])),
    ("negative-start", lambda r: r["ints"][0] < 0),
])
def test_start_id_faults(fault, check):
    a, _ = answers(start_id=fault)
    r = a.answer(10, ALL_GROUPS, 0.0)
    assert r["success"] and check(r)


def test_manipulability_faults():
    a, board = answers(manipulability="short")
    assert len(a.answer(9, [], 1.0)["float2d"][0]) == 7
    board.change({"manipulability": "size-mismatch"})
    r = a.answer(9, [], 1.0)
    assert len(r["float2d"]) == len(r["joint_groups"]) - 1


@pytest.mark.parametrize("fault,error", [
    ("missing-marker", "missing marker"),
    ("duplicate-marker", "duplicate"),
    ("unknown-group", "unknown group"),
    ("unknown-group:9", "unknown group"),
])
@pytest.mark.parametrize("profile", [SINGLE, DUAL])
def test_primitive_state_faults(profile, fault, error):
    a, _ = answers(profile, primitive=fault)
    with pytest.raises(ValueError, match=error):
        parse_primitives(a.answer(3, [], 2.0)["strings"], set(profile.listed))


def test_corrupted_primitive_states_for_the_next_n_replies():
    a, board = answers(SINGLE, primitive_corrupt=2)
    results = []
    for _ in range(4):
        results.append("" in a.answer(3, [], 1.0)["strings"])
    assert results == [True, True, False, False]
    assert board.get()["primitive_corrupt"] == 0


@pytest.mark.parametrize("fault,check", [
    ("short", lambda s: len(s) == 7),
    ("long", lambda s: len(s) == 9),
    ("bad-velocity", lambda s: len(s) == 8 and s[6] == "abc"),
])
def test_plan_faults(fault, check):
    a, _ = answers(plan=fault)
    assert check(a.answer(4, [], 3.0)["strings"])


def test_delivery_faults_on_fields():
    good = dict(request_id=4, success=True, strings=["x"])
    assert rpc.apply_delivery(good, "fail")["success"] is False
    assert rpc.apply_delivery(dict(request_id=0, success=False), "fail")["success"] is True
    assert rpc.apply_delivery(good, "wrong-id")["request_id"] == 5
    assert rpc.apply_delivery(dict(request_id=65535, success=True), "wrong-id")["request_id"] == 0
    assert rpc.apply_delivery(good, None) == good


# -- settings ------------------------------------------------------------------


def test_changes_merge_and_reset():
    board = Switchboard({"rpc": {"1": "drop"}, "plan": "short"})
    s = board.change({"rpc": {"3": "delay:250"}, "malformed": {"both": "cut:0.5"}})
    assert s["rpc"] == {"1": "drop", "3": "delay:250"}
    assert s["malformed"] == {"basic": "cut:0.5", "extra": "cut:0.5"}
    s = board.change({"rpc": {"1": None}, "malformed": {"extra": None}})
    assert s["rpc"] == {"3": "delay:250"} and s["malformed"] == {"basic": "cut:0.5", "extra": None}
    s = board.change({"reset": True})
    assert s["rpc"] == {"1": "drop"} and s["plan"] == "short" and s["malformed"]["basic"] is None


@pytest.mark.parametrize("bad", [
    {"nonsense": 1},
    {"rpc": {"1": "explode"}},
    {"rpc": {"x": "drop"}},
    {"rpc": {"1": "delay:abc"}},
    {"rpc": {"1": "drop:5"}},
    {"malformed": {"basic": "cut:0"}},
    {"malformed": {"basic": "cut:1.5"}},
    {"malformed": {"side": "cut"}},
    {"invalid_group": {"basic": -1}},
    {"invalid_group": {"basic": 7.0}},
    {"start_id": "weird"},
    {"primitive": "missing-marker:3"},
    {"primitive_corrupt": -1},
    {"system_state": True},
    {"paused": 1},
    [1, 2],
])
def test_invalid_changes_are_refused_and_change_nothing(bad):
    board = Switchboard({"plan": "long"})
    before = board.get()
    with pytest.raises(SettingsError):
        board.change(bad)
    assert board.get() == before == faults.apply_changes(faults.DEFAULTS, {"plan": "long"}, faults.DEFAULTS)


# -- schedule ------------------------------------------------------------------


class FakeClock:
    def __init__(self):
        self.now = 100.0

    def __call__(self):
        return self.now

    def sleep(self, s):
        self.now += s


def test_ticker_is_drift_free_and_skips_when_far_behind():
    clock = FakeClock()
    ticker = Ticker(0.001, max_lag=0.05, clock=clock, sleep=clock.sleep)
    start = clock.now
    for k in range(100):
        assert ticker.wait(lambda: False) == k
        assert clock.now >= start + k * 0.001 - 1e-12
        clock.now += 0.0007  # work that takes most of a period never accumulates
    assert clock.now - start < 0.1 + 0.001
    clock.now += 0.5  # a long stall
    slot = ticker.wait(lambda: False)
    assert ticker.skipped > 400 and slot == 100 + ticker.skipped
    assert ticker.wait(lambda: True) is None


def test_command_line_and_settings_object_combine():
    from tarn_sim.cli import parser, settings_from

    p = parser()
    args = p.parse_args([
        "--serial", "X", "--malformed", "basic=cut", "--rpc-fault", "1=drop", "--version-empty",
        "--settings", '{"malformed": {"extra": "trailing:0.5"}, "plan": "long"}',
    ])
    s = faults.apply_changes(faults.DEFAULTS, settings_from(args, p), faults.DEFAULTS)
    assert s["malformed"] == {"basic": "cut", "extra": "trailing:0.5"}
    assert s["rpc"] == {"1": "drop"} and s["plan"] == "long" and s["version_reply"] is None
