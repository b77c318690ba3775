"""Stream messages built without a network: layout, plausibility, injected faults."""

import math

import pytest
from zenoh.ext import z_deserialize

from tarn_sim import wire
from tarn_sim.groups import ARM_1, ARM_2, ARMS, DUAL, EXT_AXIS, SINGLE
from tarn_sim.motion import GRAVITY, GRIPPER_MASS, Robot
from tarn_sim.streams import StreamBuilder, StreamFaults
from tarn_sim.vocab import SAFETY_BOARD_STATES, SYSTEM_STATES


def samples(profile, n, dt=0.001, t0=0.0, faults=None):
    robot, builder = Robot(profile), StreamBuilder(profile)
    out = []
    for k in range(n):
        snap = robot.snapshot(t0 + k * dt)
        out.append(builder.build(snap, 1, k, faults or StreamFaults()))
    return out


def rotate(q, v):
    w, x, y, z = q
    return (
        (1 - 2 * (y * y + z * z)) * v[0] + 2 * (x * y - w * z) * v[1] + 2 * (x * z + w * y) * v[2],
        2 * (x * y + w * z) * v[0] + (1 - 2 * (x * x + z * z)) * v[1] + 2 * (y * z - w * x) * v[2],
        2 * (x * z - w * y) * v[0] + 2 * (y * z + w * x) * v[1] + (1 - 2 * (x * x + y * y)) * v[2],
    )


@pytest.mark.parametrize("profile,dof,groups", [(SINGLE, 7, [ARM_1]), (DUAL, 15, [ARMS, ARM_1, ARM_2, EXT_AXIS])])
def test_layout_of_both_streams(profile, dof, groups):
    basic_raw, extra_raw = samples(profile, 2)[-1]
    basic, extra = wire.decode_basic(basic_raw), wire.decode_extra(extra_raw)
    assert basic["joint_groups"] == groups and extra["joint_groups"] == groups
    for name in wire.BASIC_JOINT_FIELDS[:9]:
        assert len(basic["joint_data"][name]) == dof, name
    # one contact per joint, like every joint array
    assert len(basic["joint_data"]["contact_positions"]) == len(basic["joint_data"]["q"])
    assert len(basic["joint_data"]["contact_forces"]) == len(basic["joint_data"]["q"])
    assert len(basic["cartesian_data"]) == len(groups) == len(extra["cartesian_data"])
    for name in ("q_d", "dq_d", "tau_d"):
        assert len(extra[name]) == dof
    # every group's layout fits the full-DoF arrays
    for g, (start, n) in profile.layout.items():
        assert start + n <= dof, g
    assert profile.layout[0] == (0, dof)


def test_serialization_matches_the_declared_types():
    # z_deserialize does not notice leftovers; re-serializing must give the bytes back
    basic_raw, extra_raw = samples(DUAL, 1)[0]
    raw = basic_raw.to_bytes()
    assert wire.encoded_size(wire.BASIC_TYPE, z_deserialize(wire.BASIC_TYPE, basic_raw)) == len(raw)
    with pytest.raises(wire.WireError):
        wire.decode_basic(raw + b"\x00")
    with pytest.raises(wire.WireError):
        wire.decode_extra(extra_raw.to_bytes()[:-1])


def test_long_sequence_prefix_size():
    # lengths of 128 and more take two prefix bytes
    payload = wire.encode_reply(3, True, strings=["x" * 200], floats=[0.5] * 130)
    reply = wire.decode_reply(payload)
    assert reply["string_container"] == ["x" * 200] and len(reply["float_container"]) == 130


def test_poses_are_unit_quaternions_and_wrench_points_down():
    for basic_raw, _ in samples(DUAL, 50, dt=0.2):
        msg = wire.decode_basic(basic_raw)
        for g, cart in zip(msg["joint_groups"], msg["cartesian_data"]):
            for pose in ("flange_pose", "tcp_pose"):
                q = cart[pose][3:]
                assert abs(math.sqrt(sum(x * x for x in q)) - 1.0) < 1e-5
            if g == EXT_AXIS:
                continue
            # the load's weight, seen in the world frame: straight down, at least the gripper's
            f = rotate(cart["tcp_pose"][3:], cart["tcp_wrench_local"][:3])
            assert abs(f[0]) < 1e-3 and abs(f[1]) < 1e-3
            assert f[2] <= -GRIPPER_MASS * GRAVITY + 8.0 + 1e-3


def test_motion_is_smooth_and_velocities_match():
    robot = Robot(DUAL)
    dt = 0.001
    for t in (0.3, 2.9, 5.2, 7.7, 11.1):
        _, q0, dq0 = robot.joints(t)
        _, q1, _ = robot.joints(t + dt)
        for i in range(DUAL.dof):
            assert abs(q1[i] - q0[i]) < 0.01
            assert abs((q1[i] - q0[i]) / dt - dq0[i]) < 0.05


def test_things_change_over_a_cycle():
    seen = {"system": set(), "safety": set(), "outputs": set(), "inputs": set(), "q": set()}
    for basic_raw, _ in samples(SINGLE, 130, dt=0.1):
        m = wire.decode_basic(basic_raw)
        seen["system"].add(m["system_state"])
        seen["safety"].add(m["safety_board_state"])
        seen["outputs"].add(tuple(m["digital_outputs"]))
        seen["inputs"].add(tuple(m["digital_inputs"]))
        seen["q"].add(round(m["joint_data"]["q"][0], 3))
    assert seen["system"] <= set(SYSTEM_STATES) and len(seen["system"]) >= 2
    assert seen["safety"] <= set(SAFETY_BOARD_STATES) and len(seen["safety"]) >= 2
    assert len(seen["outputs"]) >= 3 and len(seen["inputs"]) >= 8 and len(seen["q"]) > 50


def test_twist_follows_the_pose():
    dt = 0.001
    pairs = samples(SINGLE, 3, dt=dt, t0=3.0)
    m1, m2 = (wire.decode_basic(b) for b, _ in pairs[1:])
    p1, p2 = m1["cartesian_data"][0]["tcp_pose"], m2["cartesian_data"][0]["tcp_pose"]
    v = m2["cartesian_data"][0]["tcp_twist"]
    for i in range(3):
        assert abs((p2[i] - p1[i]) / dt - v[i]) < 1e-2


@pytest.mark.parametrize("kind", ["prefix", "trailing", "cut"])
@pytest.mark.parametrize("stream", ["basic", "extra"])
def test_malformed_samples_fail_strict_decoding(kind, stream):
    faults = StreamFaults(malformed={stream: (kind, 1.0)})
    decode = wire.decode_basic if stream == "basic" else wire.decode_extra
    other = wire.decode_extra if stream == "basic" else wire.decode_basic
    for basic_raw, extra_raw in samples(DUAL, 12, faults=faults):
        bad, good = (basic_raw, extra_raw) if stream == "basic" else (extra_raw, basic_raw)
        with pytest.raises(wire.WireError):
            decode(bad)
        other(good)  # the other stream is left alone


def test_malformed_ratio_spoils_exactly_that_share():
    faults = StreamFaults(malformed={"basic": ("trailing", 0.25)})
    bad = []
    for k, (basic_raw, _) in enumerate(samples(SINGLE, 40, faults=faults)):
        try:
            wire.decode_basic(basic_raw)
        except wire.WireError:
            bad.append(k)
    assert bad == list(range(3, 40, 4))


def test_inconsistent_and_invalid_group_faults():
    b, e = samples(DUAL, 1, faults=StreamFaults(inconsistent={"extra": True}))[0]
    basic, extra = wire.decode_basic(b), wire.decode_extra(e)
    assert len(basic["cartesian_data"]) == len(basic["joint_groups"])
    assert len(extra["cartesian_data"]) == len(extra["joint_groups"]) + 1

    b, e = samples(SINGLE, 1, faults=StreamFaults(invalid_group={"basic": 7}))[0]
    basic, extra = wire.decode_basic(b), wire.decode_extra(e)
    assert basic["joint_groups"] == [ARM_1, 7] and len(basic["cartesian_data"]) == 2
    assert extra["joint_groups"] == [ARM_1]
