"""Queued samples in NumPy columns: Client.take_states and take_actions."""

import subprocess
import sys
import time

import numpy as np
import pytest

from tarn_py_support import MODULE_DIR, Ticker, connect

STATE_JOINT_FIELDS = ("q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature")
STATE_FIXED_FIELDS = {"flange_pose": 7, "tcp_pose": 7, "tcp_twist": 6, "tcp_wrench": 6, "tcp_wrench_local": 6,
                      "raw_tcp_wrench": 6, "raw_tcp_wrench_local": 6, "raw_ft_sensor": 6}
ACTION_FIELDS = {"q_d": None, "dq_d": None, "tau_d": None, "tcp_pose_d": 7, "tcp_twist_d": 6, "tcp_wrench_d": 6}


def stamp_ns(sec, nsec):
    return int(sec) * 1_000_000_000 + int(nsec)


def take_rows(client, take, rows, max_count=64):
    """Batches until `rows` samples are taken (the last batch may overshoot)."""
    batches = []
    deadline = time.monotonic() + 10
    while sum(b.count for b in batches) < rows:
        assert time.monotonic() < deadline, "samples stopped coming"
        batch = take(max_count, 2.0)
        assert batch is not None
        assert 1 <= batch.count <= max_count
        batches.append(batch)
    return batches


def test_batches_hold_what_next_states_gives(norviktarn, start_sim):
    # two clients of one robot get the same samples: one takes batches, the other one sample at a time
    sim = start_sim("--profile", "dual", "--stamp-from-counter", name="batched")
    batched = connect(norviktarn, sim.serial, verbose=False)
    single = connect(norviktarn, sim.serial, verbose=False)
    single.start_sample_queues(100000)
    batched.start_sample_queues(100000)
    batches = take_rows(batched, batched.take_states, 300)
    by_stamp = {}
    while len(by_stamp) < 400:
        s = single.next_states(2.0)
        assert s is not None
        by_stamp[stamp_ns(*s.states[norviktarn.ARM_1].timestamp)] = s

    indices = np.concatenate([b.index for b in batches])
    assert list(indices) == list(range(indices[0], indices[0] + len(indices))), "a sample was lost or repeated"
    arrivals = np.concatenate([b.received_at for b in batches])
    assert np.all(np.diff(arrivals) >= 0)
    assert abs(arrivals[-1] - time.monotonic()) < 5.0, "not on time.monotonic()'s clock"
    compared = 0
    for b in batches:
        arm = b.states[norviktarn.ARM_1]
        for i in range(b.count):
            one = by_stamp.get(stamp_ns(*arm.timestamp[i]))
            if one is None:
                continue
            compared += 1
            assert b.system_state[i] == one.system_state
            assert b.safety_board_state[i] == one.safety_board_state
            assert b.estop_released[i] == one.estop_released
            assert b.enabling_device_on[i] == one.enabling_device_on
            assert list(b.digital_inputs[i]) == one.digital_inputs
            assert list(b.digital_outputs[i]) == one.digital_outputs
            assert set(b.states) == set(one.states)
            for group, columns in b.states.items():
                record = one.states[group]
                assert tuple(columns.timestamp[i]) == record.timestamp
                for field in STATE_JOINT_FIELDS + tuple(STATE_FIXED_FIELDS):
                    assert np.array_equal(getattr(columns, field)[i], getattr(record, field)), (group, field)
    assert compared >= 100, "too few samples seen by both clients"


def test_columns_have_their_dtypes_and_shapes(norviktarn, dual_robot):
    _, client = dual_robot
    client.start_sample_queues()
    layout = client.layout()
    s = client.take_states(50, 2.0)
    n = s.count
    assert isinstance(n, int) and 1 <= n <= 50
    for name, dtype, shape in (("index", np.uint64, (n,)), ("received_at", np.float64, (n,)),
                               ("system_state", np.uint16, (n,)), ("safety_board_state", np.int16, (n,)),
                               ("estop_released", np.bool_, (n,)), ("enabling_device_on", np.bool_, (n,)),
                               ("digital_inputs", np.bool_, (n, 20)), ("digital_outputs", np.bool_, (n, 20))):
        array = getattr(s, name)
        assert (array.dtype, array.shape) == (np.dtype(dtype), shape), name
    assert set(s.states) == set(client.groups())
    for group, columns in s.states.items():
        dof = layout[group][1]
        assert columns.dof == dof
        assert (columns.timestamp.dtype, columns.timestamp.shape) == (np.dtype(np.int32), (n, 2))
        for field in STATE_JOINT_FIELDS:
            array = getattr(columns, field)
            assert (array.dtype, array.shape) == (np.dtype(np.float64), (n, dof)), field
        for field, width in STATE_FIXED_FIELDS.items():
            assert getattr(columns, field).shape == (n, width), field
    q = s.states[norviktarn.ARM_1].q
    assert q.flags.writeable  # as the stubs say
    assert not q.flags.owndata and q.base is not None, "the library's vector was copied"
    q[0, 0] = 1e9  # the batch's own data: no other array sees it
    assert client.take_states(1, 1.0).states[norviktarn.ARM_1].q[0, 0] != 1e9

    a = client.take_actions(50, 2.0)
    assert a.index.dtype == np.uint64 and a.received_at.shape == (a.count,)
    for group, columns in a.actions.items():
        assert columns.timestamp.shape == (a.count, 2)
        for field, width in ACTION_FIELDS.items():
            array = getattr(columns, field)
            assert (array.dtype, array.shape) == (np.dtype(np.float64), (a.count, width or layout[group][1])), field


def test_none_on_time_out_while_other_threads_run(norviktarn, start_sim):
    sim = start_sim("--profile", "single", "--paused", name="pausedbatch")
    client = connect(norviktarn, sim.serial, verbose=False)
    client.start_sample_queues()
    with Ticker() as ticker:
        for take in (client.take_states, client.take_actions):
            outcome, took, gap = ticker.time(take, 1000, 0.3)
            assert outcome is None
            assert 0.3 <= took < 2.0
            assert gap < 0.1, "other threads stalled while it waited"


def test_errors(norviktarn, dual_robot):
    _, client = dual_robot
    # a fresh client: the shared one may already have its queues
    fresh = connect(norviktarn, dual_robot[0].serial, verbose=False)
    with pytest.raises(RuntimeError, match=r"^\[norvik::tarn::Client\] take_states: call start_sample_queues\(\) first$"):
        fresh.take_states(10, 0.01)
    with pytest.raises(RuntimeError, match=r"take_actions: call start_sample_queues\(\) first"):
        fresh.take_actions(10, 0.01)
    client.start_sample_queues()
    with pytest.raises(ValueError, match=r"^\[norvik::tarn::Client\] take_states: max_count must be at least 1$"):
        client.take_states(0, 0.01)
    with pytest.raises(TypeError):
        client.take_actions(-1, 0.01)
    fresh.close()
    with pytest.raises(RuntimeError, match="The client is closed"):
        fresh.take_states(10, 0.01)


NO_NUMPY = """
import sys
sys.modules["numpy"] = None  # as if NumPy were not installed
sys.path.insert(0, %(module_dir)r)
import norviktarn
norviktarn.silence_log()
client = norviktarn.Client(%(serial)r, verbose=False)
client.start_sample_queues()
first = client.next_states(5.0)
assert first is not None
second_index = first.index + 1
import time
deadline = time.monotonic() + 10
while client.stream_health(norviktarn.StreamKind.BASIC).received < second_index + 5:
    assert time.monotonic() < deadline, "samples stopped coming"
    time.sleep(0.01)
try:
    client.take_states(1000, 1.0)
except ImportError as e:
    print("refused:", e)
kept = client.next_states(1.0)
print("next index:", kept.index - second_index)
"""


def test_without_numpy_take_refuses_and_keeps_the_samples(start_sim):
    sim = start_sim("--profile", "single", name="nonumpy")
    script = NO_NUMPY % {"module_dir": str(MODULE_DIR), "serial": sim.serial}
    env = {"PATH": "/usr/bin:/bin", "TARN_ISOLATED": "1"}
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "refused: [norvik::tarn::Client] take_states and take_actions need NumPy (pip install numpy)",
        "next index: 0"], done.stdout
