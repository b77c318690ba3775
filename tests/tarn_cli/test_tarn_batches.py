"""Whole batches written at once: the same files as the per-sample calls, the same counts of what is lost."""

import enum
import sys
from types import SimpleNamespace

import numpy as np
import pytest

from tarn_cli_support import TOOL_DIR

sys.path.insert(0, str(TOOL_DIR))
from tarn_cli import batches  # noqa: E402
from tarn_cli.columns import Layout  # noqa: E402
from tarn_cli.csvtext import cells  # noqa: E402
from tarn_cli.tally import StreamTally  # noqa: E402
from tarn_cli.writers import Row, open_writer  # noqa: E402

Group = enum.Enum("Group", "ARM_1 EXT_AXIS")
DOF = {"ARM_1": 7, "EXT_AXIS": 1}
STATE_SIZES = dict([(f, None) for f in ("q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact",
                                        "temperature")] + [("flange_pose", 7), ("tcp_pose", 7)]
                   + [(f, 6) for f in ("tcp_twist", "tcp_wrench", "tcp_wrench_local", "raw_tcp_wrench",
                                       "raw_tcp_wrench_local", "raw_ft_sensor")])
ACTION_SIZES = {"q_d": None, "dq_d": None, "tau_d": None, "tcp_pose_d": 7, "tcp_twist_d": 6, "tcp_wrench_d": 6}
rng = np.random.default_rng(7)


def _group(sizes, name, n, stamps):
    g = {f: rng.normal(0, 10.0 ** rng.integers(-6, 4), (n, DOF[name] if k is None else k)) for f, k in sizes.items()}
    return SimpleNamespace(timestamp=stamps.astype(np.int32), **g)


def batch(first, n, groups=("ARM_1", "EXT_AXIS"), actions=False, stamps=None):
    """A batch of n samples numbered from `first`, as take_states / take_actions give it."""
    stamps = np.column_stack([np.full(n, 5), first + np.arange(n)]) if stamps is None else stamps
    by_group = {Group[g]: _group(ACTION_SIZES if actions else STATE_SIZES, g, n, stamps) for g in groups}
    b = SimpleNamespace(count=n, index=np.arange(first, first + n, dtype=np.uint64),
                        received_at=1.0 + np.arange(first, first + n) / 1000 + 1e-7)
    if actions:
        b.actions = by_group
        return b
    b.states = by_group
    b.system_state, b.safety_board_state = rng.integers(0, 9, n).astype(np.uint16), np.full(n, -3, np.int16)
    b.estop_released, b.enabling_device_on = rng.random(n) < 0.5, rng.random(n) < 0.5
    b.digital_inputs, b.digital_outputs = rng.random((n, 20)) < 0.5, rng.random((n, 20)) < 0.5
    return b


def per_sample(writer, layout, b, kind):
    """The batch's samples through the per-sample calls, each value taken by name from the batch."""
    plan = layout.state_groups if kind == "basic" else layout.action_groups
    by_name = {g.name: r for g, r in (b.states if kind == "basic" else b.actions).items()}
    for i in range(b.count):
        values = []
        for name, fields in plan:
            for field, parts in fields:
                have = list(getattr(by_name[name], field)[i]) if name in by_name else []
                values += have[:len(parts)] + [None] * (len(parts) - len(have))
        stamp = tuple(int(v) for v in next(iter(by_name.values())).timestamp[i]) if by_name else None
        row = Row(int(b.index[i]), float(b.received_at[i]))
        if kind == "basic":
            status = [int(b.system_state[i]), int(b.safety_board_state[i]), bool(b.estop_released[i]),
                      bool(b.enabling_device_on[i])] + list(b.digital_inputs[i]) + list(b.digital_outputs[i])
            writer.basic(row, stamp, values, None not in values and stamp is not None, status)
        else:
            writer.extra(row, stamp, values, None not in values and stamp is not None)


def test_cells_are_the_text_of_9_significant_digits():
    values = np.concatenate([rng.normal(0, 10.0 ** rng.integers(-16, 12, 49988)),
                             rng.normal(0, 100, 50000).astype(np.float32),
                             [0.0, -0.0, np.nan, np.inf, -np.inf, 1e9, 999999999.5, 9.9999999995, 0.5, 1e-4, 1e-5,
                              0.00099999999995, 123456789.0, 1e-13, 5e-324, 1e300, 2**-40, -1.5e-12, 100.0,
                              1e-4 * 0.99999999995, 2.5]])
    text, lengths = cells(values.reshape(-1, 7))
    assert text == "".join("," + "%.9g" % v for v in values.tolist())
    assert lengths.shape == (len(values) // 7, 7) and lengths.sum() == len(text)


@pytest.mark.parametrize("suffix", [".csv", ".parquet", ".mcap"])
def test_batches_write_what_the_per_sample_calls_write(tmp_path, suffix):
    if suffix == ".mcap":
        pytest.importorskip("mcap_ros2")
    layout = Layout([("ARM_1", 7), ("EXT_AXIS", 1)], [("ARM_1", 7), ("EXT_AXIS", 1)])
    layout.state_picks = layout.action_picks = ([0, 1], 2)
    meta = {"received_at_offset_ns": "1000", "columns": "[]"}
    odd_stamps = np.array([[5, -1], [5, 1_500_000_000], [2**31 - 1, 2**31 - 1]])
    stream = [("basic", batch(0, 1)), ("extra", batch(0, 1, actions=True)), ("basic", batch(1, 250)),
              ("extra", batch(1, 399, actions=True)), ("basic", batch(251, 3, groups=("ARM_1",))),
              ("basic", batch(254, 2, groups=())), ("extra", batch(400, 3, actions=True, stamps=odd_stamps)),
              ("basic", batch(256, 350))]
    files = {}
    for way in ("batch", "sample"):
        path = files[way] = tmp_path / (way + suffix)
        w = open_writer(str(path), layout, meta)
        for kind, b in stream:
            if way == "sample":
                per_sample(w, layout, b, kind)
            elif kind == "basic":
                w.basic_batch(batches.states(b, layout))
            else:
                w.extra_batch(batches.actions(b, layout))
        w.close()
        assert w.rows == 1009
    if suffix == ".csv":
        assert files["batch"].read_text() == files["sample"].read_text()
    elif suffix == ".parquet":
        import pyarrow.parquet as pq

        assert pq.read_table(files["batch"]).equals(pq.read_table(files["sample"]))
    else:
        from test_tarn_mcap import decoded, index_errors

        from mcap.reader import make_reader

        def messages(path):
            with open(path, "rb") as f:
                return [(c.topic, m.sequence, m.log_time, m.data) for _, c, m in make_reader(f).iter_messages()]

        assert messages(files["batch"]) == messages(files["sample"])
        assert index_errors(files["batch"]) == (0, len(messages(files["sample"])))
        # a sample of the big batch, as a ROS 2 reader sees it
        b = stream[-1][1]
        topics = decoded(files["batch"])[2][("basic", 300)]
        js = topics["/tarn/ARM_1/joint_states"][2]
        arm = b.states[Group.ARM_1]
        assert (js.position, js.effort) == (list(arm.q[44]), list(arm.tau[44]))
        assert (js.header.stamp.sec, js.header.stamp.nanosec) == (5, 300)
        assert topics["/tarn/status"][2].digital_outputs == list(b.digital_outputs[44])


def test_a_batch_that_does_not_fit_keeps_its_holes():
    layout = Layout([("ARM_1", 7), ("EXT_AXIS", 1)], [])
    layout.state_picks = ([0, 1], 2)
    block = batches.states(batch(10, 4, groups=("ARM_1",)), layout)
    ext = 9 + 50  # EXT_AXIS: 9 joint values and 50 Cartesian ones, the last columns
    assert not block.exact and not block.missing[:, :-ext].any() and block.missing[:, -ext:].all()
    assert np.isnan(block.values[:, -ext:]).all() and block.loose_values(0)[-ext:] == [None] * ext
    none = batches.states(batch(14, 2, groups=()), layout)
    assert none.stamp is None and none.missing.all() and none.status.shape == (2, 44)
    assert none.rows(slice(1, 2)).index.tolist() == [15]


def _stamps(ns):
    ns = np.asarray(ns, dtype=np.int64)
    return np.column_stack([ns // 1_000_000_000, ns % 1_000_000_000])


def test_tally_counts_holes_across_batch_edges():
    t = StreamTally()
    ms = 1_000_000
    t.add([0], _stamps([7 * 10**9]))                                   # a batch of one
    t.add(np.arange(1, 60), _stamps(7 * 10**9 + np.arange(1, 60) * ms))
    # 2 stamps missing inside the warm-up, the step not known yet
    t.add(np.arange(60, 150), _stamps(7 * 10**9 + np.arange(62, 152) * ms))
    assert t.step == ms and t.stamp_missing == 2
    # at the edge: 3 stamps and 2 index numbers lost between two batches, then a repeated stamp
    t.add([152, 153], _stamps(7 * 10**9 + np.array([155, 155]) * ms))
    t.add([154], None)                                                  # no group: no stamp
    t.add(np.arange(155, 160), _stamps(7 * 10**9 + np.arange(156, 161) * ms))
    t.finish()
    assert (t.recorded, t.index_gaps, t.stamp_missing, t.backwards, t.no_stamp) == (158, 2, 5, 1, 1)
    assert (t.first_index, t.last_index) == (0, 159)
    assert t.expected() == 161 and t.last_stamp - t.first_stamp == 160 * ms
    empty = StreamTally()
    empty.add(np.array([], dtype=np.uint64), _stamps([]))
    empty.finish()
    assert (empty.recorded, empty.expected()) == (0, None)
