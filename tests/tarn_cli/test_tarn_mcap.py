"""tarn record to MCAP, --groups/--fields/--every, what each file says it is, and tarn convert."""

import csv
import json
import re
import struct
import subprocess
import sys
from collections import defaultdict

import pytest

from tarn_cli_support import TOOL_DIR, one_error_line, tarn, tool_env

pytest.importorskip("mcap_ros2")
from mcap.reader import make_reader  # noqa: E402
from mcap_ros2.decoder import DecoderFactory  # noqa: E402

PERIOD_NS = 5_000_000  # the shared robot's 200 Hz
POSE = ("x", "y", "z", "qw", "qx", "qy", "qz")
WRENCH = ("fx", "fy", "fz", "mx", "my", "mz")


def decoded(path):
    """(profile, {name: metadata}, {(stream, sequence): {topic: (schema name, log time, message)}}) of a file."""
    samples = defaultdict(dict)
    stream = None
    with open(path, "rb") as f:
        reader = make_reader(f, decoder_factories=[DecoderFactory()])
        profile = reader.get_header().profile
        metadata = {m.name: dict(m.metadata) for m in reader.iter_metadata()}
        for schema, channel, message, msg in reader.iter_decoded_messages(log_time_order=False):
            assert (schema.encoding, channel.message_encoding) == ("ros2msg", "cdr")
            if channel.topic.endswith("/sample"):
                stream = channel.topic.split("/")[2]
            samples[(stream, message.sequence)][channel.topic] = (schema.name, message.log_time, msg)
    return profile, metadata, samples


def index_errors(path):
    """(message index entries that miss their record, entries): what readers that seek by time rely on."""
    import zstandard
    from mcap.records import Chunk, MessageIndex
    from mcap.stream_reader import StreamReader

    wrong = total = 0
    data = None
    with open(path, "rb") as f:
        for record in StreamReader(f, skip_magic=False, emit_chunks=True).records:
            if isinstance(record, Chunk):
                data = zstandard.decompress(record.data, record.uncompressed_size)
            elif isinstance(record, MessageIndex):
                for log_time, offset in record.records:
                    total += 1
                    opcode, _, channel, _, t = struct.unpack_from("<BQHIQ", data, offset)
                    wrong += (opcode, channel, t) != (0x05, record.channel_id, log_time)
    return wrong, total


def csv_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def side_meta(path):
    with open(str(path) + ".meta.json") as f:
        return json.load(f)


def floats(row, group, field, parts):
    return [float(row["%s.%s.%s" % (group, field, p)]) for p in parts]


@pytest.fixture(scope="module")
def runs(tmp_path_factory, dual_robot):
    """A CSV recording and its MCAP conversion, and an MCAP recording, all with the default groups and fields."""
    folder = tmp_path_factory.mktemp("mcap")
    summaries = {}
    for name in ("run.csv", "live.mcap"):
        done = tarn("record", dual_robot.serial, "--duration", "2", "--out", folder / name, "--quiet")
        # a busy machine may keep tarn-sim from sending a sample; the tool itself loses none
        assert done.returncode == 0 or "0 dropped by the tool, 0 malformed" in done.stdout, done
        summaries[name] = done.stdout
    done = tarn("convert", folder / "run.csv", "--out", folder / "run.mcap")
    assert done.returncode == 0, done
    assert done.stdout.startswith("converted %s to %s (MCAP, " % (folder / "run.csv", folder / "run.mcap")), done
    return folder, dual_robot.serial, summaries


def test_mcap_holds_every_sample_of_the_csv_recording(runs):
    folder = runs[0]
    rows = csv_rows(folder / "run.csv")
    profile, metadata, samples = decoded(folder / "run.mcap")
    assert profile == "ros2"
    offset = int(metadata["recording"]["received_at_offset_ns"])
    assert len(samples) == len(rows)
    for row in rows:
        stream, index = row["stream"], int(row["index"])
        topics = samples[(stream, index)]
        schema, log_time, head = topics["/tarn/%s/sample" % stream]
        assert (head.index, head.stamped) == (index, True)
        assert (head.header.stamp.sec, head.header.stamp.nanosec) == (int(row["stamp_sec"]), int(row["stamp_nanosec"]))
        assert abs(log_time - offset - float(row["received_at"]) * 1e9) < 1000  # arrival time, to the microsecond
        # every message of the sample has the robot's stamp
        assert {(m.header.stamp.sec, m.header.stamp.nanosec) for _, _, m in topics.values()} == \
            {(head.header.stamp.sec, head.header.stamp.nanosec)}
        for group, dof in (("ARM_1", 7), ("ARM_2", 7), ("EXT_AXIS", 1)):
            joints = [str(j + 1) for j in range(dof)]
            if stream == "basic":
                schema, _, js = topics["/tarn/%s/joint_states" % group]
                assert schema == "sensor_msgs/msg/JointState"
                assert js.name == ["%s_joint_%s" % (group, j) for j in joints]
                assert [js.position, js.velocity, js.effort] == [floats(row, group, f, joints)
                                                                 for f in ("q", "dq", "tau")]
                extra = topics["/tarn/%s/joint_extra" % group][2]
                assert extra.temperature == floats(row, group, "temperature", joints)
                assert extra.tau_ext == floats(row, group, "tau_ext", joints)
                schema, _, pose = topics["/tarn/%s/tcp_pose" % group]
                assert schema == "geometry_msgs/msg/PoseStamped" and pose.header.frame_id == "world"
                p, o = pose.pose.position, pose.pose.orientation
                assert [p.x, p.y, p.z, o.w, o.x, o.y, o.z] == floats(row, group, "tcp_pose", POSE)
                schema, _, w = topics["/tarn/%s/tcp_wrench_local" % group]
                assert schema == "geometry_msgs/msg/WrenchStamped" and w.header.frame_id == "%s_tcp" % group
                got = [w.wrench.force.x, w.wrench.force.y, w.wrench.force.z,
                       w.wrench.torque.x, w.wrench.torque.y, w.wrench.torque.z]
                assert got == floats(row, group, "tcp_wrench_local", WRENCH)
                t = topics["/tarn/%s/tcp_twist" % group][2].twist
                assert [t.linear.x, t.angular.z] == floats(row, group, "tcp_twist", ("vx", "wz"))
            else:
                js = topics["/tarn/%s/joint_commands" % group][2]
                assert [js.position, js.velocity, js.effort] == [floats(row, group, f, joints)
                                                                 for f in ("q_d", "dq_d", "tau_d")]
                torque = topics["/tarn/%s/tcp_wrench_d" % group][2].wrench.torque
                assert torque.z == float(row[group + ".tcp_wrench_d.mz"])
        if stream == "basic":
            status = topics["/tarn/status"][2]
            assert [status.system_state, status.safety_board_state] == [int(row["system_state"]),
                                                                        int(row["safety_board_state"])]
            assert [status.estop_released, status.enabling_device_on] == [row["estop_released"] == "1",
                                                                          row["enabling_device_on"] == "1"]
            assert list(status.digital_inputs) == [row["di.%d" % i] == "1" for i in range(20)]
            assert list(status.digital_outputs) == [row["do.%d" % i] == "1" for i in range(20)]


def test_a_live_mcap_recording_is_whole_and_says_what_it_is(runs):
    folder, serial, summaries = runs
    version = subprocess.run([sys.executable, "-c", "import norviktarn; print(norviktarn.__version__)"],
                             env=tool_env(), capture_output=True, text=True, check=True).stdout.strip()
    _, metadata, samples = decoded(folder / "live.mcap")
    for stream in ("basic", "extra"):
        heads = [t["/tarn/%s/sample" % stream][2] for (s, _), t in sorted(samples.items()) if s == stream]
        index = [h.index for h in heads]
        stamps = [h.header.stamp.sec * 1_000_000_000 + h.header.stamp.nanosec for h in heads]
        assert index == list(range(index[0], index[0] + len(index))) and len(index) > 300, stream
        # stamps a whole number of periods apart; those the robot never sent are the summary's missing
        steps = [b - a for a, b in zip(stamps, stamps[1:])]
        assert all(d > 0 and d % PERIOD_NS == 0 for d in steps), stream
        missing = re.search(r"^  %s .* (\d+) missing$" % stream, summaries["live.mcap"], re.M).group(1)
        assert sum(d // PERIOD_NS - 1 for d in steps) == int(missing), stream
    topics = set().union(*samples.values())
    assert "/tarn/ARM_1/joint_states" in topics and "/tarn/EXT_AXIS/raw_ft_sensor" in topics
    assert not [t for t in topics if t.startswith("/tarn/ARMS/")]  # ARM_1 and ARM_2 hold its joints
    recording, units = metadata["recording"], metadata["units"]
    assert recording["serial"] == serial and recording["server_version"] == "v2.1"
    assert recording["library_version"] == version
    assert json.loads(recording["joint_layout"])["ARM_2"] == [7, 7]
    assert recording["groups"] == "ARM_1,ARM_2,EXT_AXIS" and recording["every"] == "1"
    assert recording["start"].startswith("20") and recording["start"].endswith("+00:00")
    assert (units["ARM_1.q.1"], units["EXT_AXIS.q.1"], units["ARM_2.tcp_wrench.mz"], units["ARM_1.temperature.3"]) == \
        ("rad", "rad or m", "N·m", "°C")


def test_groups_fields_and_every_choose_what_is_kept(dual_robot, tmp_path):
    args = ("--duration", "1.5", "--quiet", "--groups", "ARM_1,EXT_AXIS", "--fields", "q,tcp_pose,q_d", "--every", "4")
    for name in ("few.csv", "few.mcap"):
        done = tarn("record", dual_robot.serial, "--out", tmp_path / name, *args)
        assert done.returncode == 0 or "0 dropped by the tool, 0 malformed" in done.stdout, done
        assert re.match(r"recorded 1\.5 s .* MB; every 4-th sample of each stream\)\n", done.stdout), done
    rows = csv_rows(tmp_path / "few.csv")
    expect = ["ARM_1.q.%d" % j for j in range(1, 8)] + ["ARM_1.tcp_pose." + p for p in POSE] + ["EXT_AXIS.q.1"] \
        + ["EXT_AXIS.tcp_pose." + p for p in POSE] + ["ARM_1.q_d.%d" % j for j in range(1, 8)] + ["EXT_AXIS.q_d.1"]
    assert list(rows[0])[49:] == expect
    for stream in ("basic", "extra"):
        index = [int(r["index"]) for r in rows if r["stream"] == stream]
        assert {b - a for a, b in zip(index, index[1:])} == {4}, stream
    meta = side_meta(tmp_path / "few.csv")
    assert (meta["every"], meta["kept"], meta["groups"]) == ("4", "every 4-th sample of each stream", "ARM_1,EXT_AXIS")
    assert set(json.loads(meta["units"])) == set(expect) | set(list(rows[0])[2:49])
    _, metadata, samples = decoded(tmp_path / "few.mcap")
    assert set().union(*samples.values()) == {
        "/tarn/basic/sample", "/tarn/extra/sample", "/tarn/status", "/tarn/ARM_1/joint_states",
        "/tarn/ARM_1/tcp_pose", "/tarn/ARM_1/joint_commands", "/tarn/EXT_AXIS/joint_states",
        "/tarn/EXT_AXIS/tcp_pose", "/tarn/EXT_AXIS/joint_commands"}
    js = next(t["/tarn/ARM_1/joint_states"][2] for t in samples.values() if "/tarn/ARM_1/joint_states" in t)
    assert len(js.position) == 7 and js.velocity == [] and js.effort == []  # fields left out: empty
    assert metadata["recording"]["every"] == "4"
    done = tarn("record", dual_robot.serial, "--out", tmp_path / "x.csv", "--duration", "1", "--groups", "ARM_3")
    assert done.returncode == 2, done
    one_error_line(done, "tarn: the robot has no group ARM_3 (it has ARMS, ARM_1, ARM_2, EXT_AXIS)")


def test_convert_round_trips_through_every_format(runs, tmp_path):
    pytest.importorskip("pyarrow")
    folder = runs[0]
    chain = [folder / "run.csv", tmp_path / "a.parquet", tmp_path / "b.mcap", tmp_path / "c.csv"]
    for src, dst in zip(chain, chain[1:]):
        done = tarn("convert", src, "--out", dst)
        assert done.returncode == 0, done
    assert chain[0].read_bytes() == chain[-1].read_bytes()
    first, last = side_meta(chain[0]), side_meta(chain[-1])
    assert last.pop("converted_from") == "b.mcap" and first == last
    # the MCAP recording gives the same plot input as any other format
    done = tarn("convert", folder / "live.mcap", "--out", tmp_path / "live.csv")
    assert done.returncode == 0, done
    assert len(csv_rows(tmp_path / "live.csv")) == sum(1 for _ in decoded(folder / "live.mcap")[2])


def test_convert_refuses_what_is_no_recording(tmp_path):
    odd = tmp_path / "odd.csv"
    odd.write_text("stream,index,stamp_sec,stamp_nanosec,received_at,ARM_1.q.1,ARM_1.speed.1\n")
    done = tarn("convert", odd, "--out", tmp_path / "odd.mcap")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s is not a tarn recording (its columns are not those of a recording)" % odd)
    (tmp_path / "junk.mcap").write_bytes(b"\x89MCAP0\r\n" + b"\x00" * 40)
    done = tarn("convert", tmp_path / "junk.mcap", "--out", tmp_path / "junk.csv")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s is not a readable MCAP file (" % (tmp_path / "junk.mcap"))
    edited = tmp_path / "edited.csv"
    head = ",".join(["stream", "index", "stamp_sec", "stamp_nanosec", "received_at", "system_state",
                     "safety_board_state", "estop_released", "enabling_device_on"]
                    + ["di.%d" % i for i in range(20)] + ["do.%d" % i for i in range(20)])
    edited.write_text(head + "\nbasic,1,1,0,1.0,%d,0,1,0%s\n" % (2**40, ",0" * 40))
    done = tarn("convert", edited, "--out", tmp_path / "edited.mcap")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s is not a tarn recording (a value out of range: " % edited)
    done = tarn("convert", odd, "--out", odd)
    assert done.returncode == 2, done
    one_error_line(done, "tarn: cannot convert %s into itself" % odd)


def test_joined_records_equal_mcaps_own_and_read_back_with_their_gaps(tmp_path):
    """The fast path (a sample's records packed at once) writes what mcap's add_message writes; a sample
    without a group or a stamp keeps its holes through the reader."""
    sys.path.insert(0, str(TOOL_DIR))
    from collections import namedtuple

    from tarn_cli.columns import Layout
    from tarn_cli.mcap_writer import McapWriter
    from tarn_cli.readers import open_recording

    layout = Layout([("ARM_1", 7), ("EXT_AXIS", 1)], [("ARM_1", 7), ("EXT_AXIS", 1)])
    sample = namedtuple("Sample", "index received_at")
    status = [3, 1, True, False] + [i % 3 == 0 for i in range(40)]
    states = [i / 7 for i in range(layout.state_width())]
    actions = [-i / 3 for i in range(layout.action_width())]
    arm = Layout([("ARM_1", 7)], []).state_width()
    gap = states[:arm] + [None] * (len(states) - arm)  # EXT_AXIS missing
    files = {}
    for fast in (True, False):
        path = files[fast] = tmp_path / ("%s.mcap" % fast)
        w = McapWriter(str(path), layout, {"received_at_offset_ns": "1000", "columns": json.dumps(layout.columns)})
        assert w.records.fast  # mcap as pinned: the fast path is taken
        w.records.fast = fast
        for i in range(300):
            w.basic(sample(i, 1 + i / 1000), (5, i), states, True, status)
            w.extra(sample(i, 1 + i / 1000), (5, i), actions, True)
        w.basic(sample(300, 2.0), (6, 0), gap, False, status)
        w.basic(sample(301, 2.001), None, [None] * len(states), False, status)
        # stamps no ROS Time holds as they are (the robot's pair is two int32): the same instant
        for i, stamp in enumerate([(5, -1), (5, 1_500_000_000), (2**31 - 1, 2**31 - 1), (-2**31, -1)]):
            w.extra(sample(302 + i, 2.002), stamp, actions, True)
        w.close()

    def messages(path):
        with open(path, "rb") as f:
            return [(c.topic, m.sequence, m.log_time, m.data) for _, c, m in make_reader(f).iter_messages()]

    assert messages(files[True]) == messages(files[False])
    for path in files.values():
        # a states sample has 2 + 10 messages a group, a commands sample 1 + 4; the one without a stamp 2
        assert index_errors(path) == (0, 300 * (22 + 9) + 12 + 2 + 4 * 9)
    rows = list(open_recording(files[True]).rows())
    assert len(rows) == 606
    cut = 49 + len(states)  # where the actions begin
    assert rows[0][:5] == ["basic", 0, 5, 0, 1.0] and rows[0][5:49] == status and rows[0][49:cut] == states
    assert set(rows[0][cut:]) == {None}  # a states row: no commanded values
    assert rows[1][cut:] == actions and rows[1][5:cut] == [None] * (44 + len(states))
    assert rows[-6][2:4] == [6, 0] and rows[-6][49:cut] == gap
    assert rows[-5][2:4] == [None, None] and rows[-5][5:49] == status and set(rows[-5][49:]) == {None}
    assert [r[2:4] for r in rows[-4:]] == [[4, 999_999_999], [6, 500_000_000], [2**31 - 1, 147_483_647],
                                          [-2**31, 999_999_999]]


@pytest.mark.parametrize("layout, covered", [
    ({"ALL": (0, 15), "ARMS": (0, 14), "ARM_1": (0, 7), "ARM_2": (7, 7), "EXT_AXIS": (14, 1)},
     {"ALL": ["ARMS", "ARM_1", "ARM_2", "EXT_AXIS"], "ARMS": ["ARM_1", "ARM_2"]}),
    ({"ARMS": (0, 14), "ARM_1": (0, 7)}, {}),                    # joints 7..13 in no other group
    ({"ARM_1": (0, 7), "EXT_AXIS": (7, 1)}, {}),                 # the single-arm profile
    ({"ARMS": (0, 14), "ARM_1": (0, 7), "ARM_2": (7, 8)}, {}),    # ARM_2 reaches past ARMS: no part of it
])
def test_groups_that_repeat_others_joints(layout, covered):
    sys.path.insert(0, str(TOOL_DIR))
    from tarn_cli.columns import covered_groups

    assert covered_groups(layout) == covered
