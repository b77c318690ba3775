"""tarn bridge: the MCAP recording's topics live on a Foxglove WebSocket server, throttled, a slow viewer harmless."""

import contextlib
import json
import re
import select
import signal
import socket
import struct
import sys
import time
from collections import namedtuple
from types import SimpleNamespace

import pytest

from tarn_cli_support import TOOL_DIR, one_error_line, start_tarn, tarn, tool_env

pytest.importorskip("foxglove")
websockets_sync = pytest.importorskip("websockets.sync.client")
pytest.importorskip("mcap_ros2")
from mcap.reader import make_reader  # noqa: E402
from mcap.records import Schema  # noqa: E402
from mcap_ros2.decoder import DecoderFactory  # noqa: E402

PERIOD_NS = 5_000_000  # tarn-sim at 200 Hz


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


@contextlib.contextmanager
def bridge(*args):
    """`tarn bridge ARGS --port 0` serving: (URL, ended), ended(signal) stops it (Ctrl-C by default) and gives
    (returncode, stdout, stderr). The process is gone afterwards, also when the test fails."""
    proc = start_tarn("bridge", *args, "--port", "0")

    def ended(sig=signal.SIGINT):
        proc.send_signal(sig)
        out, err = proc.communicate(timeout=20)
        return proc.returncode, first + out, err

    try:
        first = proc.stdout.readline() if select.select([proc.stdout], [], [], 30)[0] else ""
        m = re.match(r"serving \S+ on (ws://127\.0\.0\.1:\d+) \(\d+ topics, up to [\d.]+ Hz each\); Ctrl-C stops$",
                     first.strip())
        assert m, first
        yield m.group(1), ended
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate(timeout=10)


class Viewer:
    """A Foxglove WebSocket client; websockets stops reading its socket while max_queue frames wait."""

    def __init__(self, url, sock=None):
        self.ws = websockets_sync.connect(url, subprotocols=["foxglove.sdk.v1"], sock=sock, max_queue=4,
                                          open_timeout=10, close_timeout=1)
        self.topics = {}  # subscription id: topic
        self.channels = {}
        while not self.channels:  # the bridge makes every channel before it says it serves
            message = self.ws.recv(timeout=10)
            if isinstance(message, str) and json.loads(message)["op"] == "advertise":
                self.channels = {c["topic"]: c for c in json.loads(message)["channels"]}
        factory = DecoderFactory()  # it keeps a decoder per schema id
        self.decode = {t: factory.decoder_for("cdr", Schema(id=c["id"], name=c["schemaName"], data=c["schema"].encode(),
                                                            encoding=c["schemaEncoding"]))
                       for t, c in self.channels.items()}

    def subscribe(self, topics):
        subs = [{"id": len(self.topics) + n + 1, "channelId": self.channels[t]["id"]} for n, t in enumerate(topics)]
        self.topics.update({s["id"]: t for s, t in zip(subs, topics)})
        self.ws.send(json.dumps({"op": "subscribe", "subscriptions": subs}))

    def next_message(self, timeout=5.0):
        """(topic, log time, decoded message) of the next message data frame."""
        while True:
            frame = self.ws.recv(timeout=timeout)
            if isinstance(frame, bytes) and frame[:1] == b"\x01":
                sub, log_time = struct.unpack_from("<IQ", frame, 1)
                return self.topics[sub], log_time, self.decode[self.topics[sub]](frame[13:])


def test_topics_and_schemas_are_those_of_the_mcap_recording(dual_robot, tmp_path):
    selection = ("--groups", "ARM_1,EXT_AXIS", "--fields", "q,dq,tau,tcp_pose,tcp_wrench_local,q_d")
    done = tarn("record", dual_robot.serial, "--duration", "0.5", "--out", tmp_path / "run.mcap", "--quiet", *selection)
    assert done.returncode == 0, done
    with open(tmp_path / "run.mcap", "rb") as f:
        summary = make_reader(f).get_summary()
    recorded = {c.topic: (summary.schemas[c.schema_id].name, summary.schemas[c.schema_id].data.decode(), "cdr",
                          "ros2msg") for c in summary.channels.values() if c.message_encoding == "cdr"}
    with bridge(dual_robot.serial, *selection) as (url, ended):
        served = Viewer(url).channels
        returncode, stdout, _ = ended()
    kept = ("schemaName", "schema", "encoding", "schemaEncoding")
    assert {t: tuple(c[k] for k in kept) for t, c in served.items()} == recorded
    assert len(recorded) == len(summary.channels) and "/tarn/EXT_AXIS/tcp_pose" in served
    assert returncode == 0
    assert re.search(r"^served %s for [\d.]+ s: \d+ basic and \d+ extra samples, 0 messages, 0 viewers$"
                     % re.escape(dual_robot.serial), stdout, re.M), stdout


def test_messages_hold_what_the_robot_sent_at_the_rate(start_robot, session):
    from tarn_sim.testing import Recorder

    robot = start_robot("--stamp-from-counter", name="stamps")
    topics = ("/tarn/ARM_1/joint_states", "/tarn/ARM_2/tcp_pose", "/tarn/basic/sample")
    got = {t: [] for t in topics}
    with Recorder(session, robot.prefix, "basic") as recorder:
        with bridge(robot.serial, "--rate", "20") as (url, ended):
            viewer = Viewer(url)
            viewer.subscribe(topics)
            started = time.monotonic()
            while time.monotonic() - started < 2.0:  # 3 topics at 20 Hz
                topic, log_time, message = viewer.next_message()
                got[topic].append((log_time, message))
            wall = time.time_ns()
            returncode, stdout, stderr = ended(signal.SIGTERM)
        sent = {(m["stamp_sec"], m["stamp_nanosec"]): m for _, m, _ in recorder.samples if m is not None}
    assert returncode == 0 and re.search(r", [1-9]\d* messages, 1 viewer$", stdout, re.M), (stdout, stderr)
    for topic, messages in got.items():
        # one in about ten of a 200 Hz robot's samples, the robot's stamp in the header, the arrival as log time
        assert 25 <= len(messages) <= 50, (topic, len(messages))
        stamps = [(m.header.stamp.sec, m.header.stamp.nanosec) for _, m in messages]
        steps = [(b[0] - a[0]) * 1_000_000_000 + b[1] - a[1] for a, b in zip(stamps, stamps[1:])]
        assert all(s % PERIOD_NS == 0 and s >= 4 * PERIOD_NS for s in steps), (topic, steps)
        assert all(stamp in sent for stamp in stamps) and all(0 < wall - t < 30e9 for t, _ in messages), topic
    for _, m in got["/tarn/ARM_1/joint_states"]:
        joints = sent[(m.header.stamp.sec, m.header.stamp.nanosec)]["joint_data"]
        assert m.name == ["ARM_1_joint_%d" % (j + 1) for j in range(7)]
        assert [[f32(v) for v in a] for a in (m.position, m.velocity, m.effort)] == [
            joints["q"][:7], joints["dq"][:7], joints["tau"][:7]]
    for _, m in got["/tarn/ARM_2/tcp_pose"]:
        x, y, z, qw, qx, qy, qz = sent[(m.header.stamp.sec, m.header.stamp.nanosec)]["cartesian_data"][2]["tcp_pose"]
        p, q = m.pose.position, m.pose.orientation
        assert [f32(v) for v in (p.x, p.y, p.z, q.x, q.y, q.z, q.w)] == [x, y, z, qx, qy, qz, qw]
    assert all(m.stamped for _, m in got["/tarn/basic/sample"])


def test_a_viewer_that_never_reads_slows_nobody(start_robot):
    """A viewer that stops reading loses its oldest messages; another viewer and the robot's client go on."""
    robot = start_robot(name="slow")
    with bridge(robot.serial, "--rate", "200") as (url, ended):
        sock = socket.socket()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # a stalled reader soon stalls the bytes too
        sock.settimeout(10)
        sock.connect(("127.0.0.1", int(url.rsplit(":", 1)[1])))
        try:
            slow, fast = Viewer(url, sock=sock), Viewer(url)
            slow.subscribe(list(slow.channels))
            fast.subscribe(["/tarn/basic/sample"])
            seen, started = [], time.monotonic()
            while time.monotonic() - started < 4.0:
                seen.append(fast.next_message()[2].index)
            # reading again, the slow one finds samples missing: dropped for it, not kept back
            behind, jump, started = [], 0, time.monotonic()
            while jump <= 100 and time.monotonic() - started < 20:
                topic, _, message = slow.next_message()
                if topic == "/tarn/basic/sample":
                    behind.append(message.index)
                    jump = max(jump, behind[-1] - behind[0 if len(behind) == 1 else -2])
            stopping = time.monotonic()
            returncode, stdout, _ = ended()  # with the slow one stalled again
            stopping = time.monotonic() - stopping
        finally:
            sock.close()
    assert returncode == 0 and stopping < 5, (returncode, stopping)
    assert len(seen) > 0.5 * 200 * 4 and seen == sorted(set(seen)), len(seen)
    assert jump > 100, behind[:20]
    m = re.search(r"for ([\d.]+) s: (\d+) basic and (\d+) extra samples, \d+ messages, 2 viewers$", stdout.strip())
    assert m and min(int(m.group(2)), int(m.group(3))) > 0.5 * 200 * float(m.group(1)), stdout


def test_a_port_in_use_is_one_line(dual_robot):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        done = tarn("bridge", dual_robot.serial, "--port", port)
    assert done.returncode == 1 and done.stdout == "", done
    one_error_line(done, "tarn: cannot serve on 127.0.0.1:%d: address already in use (another bridge? "
                         "--port picks another)" % port)


@pytest.mark.parametrize("args, status, message", [
    (("--rate", "0"), 2, "tarn: --rate must be more than 0 and at most 1000 Hz"),
    (("--rate", "nan"), 2, "tarn: --rate must be more than 0 and at most 1000 Hz"),
    (("--port", "65536"), 2, "tarn: --port must be 0 .. 65535 (0: any free port)"),
    (("--fields", "q,speed"), 2, "tarn: no field speed (fields: q, theta, dq, "),
    ((), 1, "tarn: serving Foxglove needs foxglove-sdk (pip install foxglove-sdk, or pip install 'norviktarn[bridge]'"),
])
def test_refused_before_connecting(tmp_path, args, status, message):
    (tmp_path / "foxglove").mkdir()  # and, with no arguments, as if foxglove-sdk were not installed
    (tmp_path / "foxglove" / "__init__.py").write_text("raise ImportError('No module named foxglove')\n")
    done = tarn("bridge", "AB-CD-77", *args, env=tool_env(first=[tmp_path]))
    assert done.returncode == status, done
    one_error_line(done, message)


Group = namedtuple("Group", "name")  # a norviktarn.JointGroup as the packing reads it


@pytest.mark.parametrize("case, groups, q, stamp, topics, header", [
    ("fits", ("ARM_1",), (0.5, -0.25), (12, 5), ["joint_states", "tcp_pose"], (12, 5, True)),
    ("nanoseconds out of range", ("ARM_1",), (0.5, -0.25), (12, -1), ["joint_states", "tcp_pose"],
     (11, 999_999_999, True)),
    ("no groups", (), (), None, [], (0, 0, False)),
    ("another group", ("ARM_2",), (0.5, -0.25), (12, 5), [], (12, 5, True)),
    ("a field of another size", ("ARM_1",), (0.5,), (12, 5), [], (12, 5, True)),
])
def test_packing_a_sample(case, groups, q, stamp, topics, header):
    sys.path.insert(0, str(TOOL_DIR))
    from tarn_cli.bridge_messages import BridgeMessages
    from tarn_cli.columns import Layout
    from tarn_cli.mcap_topics import SCHEMAS

    messages = BridgeMessages(Layout([("ARM_1", 2)], [("ARM_1", 2)], {"q", "tcp_pose", "q_d"}))
    record = SimpleNamespace(timestamp=stamp, q=list(q), tcp_pose=[1.0, 2.0, 3.0, 0.5, 0.1, 0.2, 0.3])
    sample = SimpleNamespace(index=41, states={Group(g): record for g in groups}, system_state=5,
                             safety_board_state=7, estop_released=True, enabling_device_on=False,
                             digital_inputs=[True] + [False] * 19, digital_outputs=[False] * 19 + [True])
    out = dict(messages.basic(sample, lambda topic: topic != "/tarn/ARM_1/joint_commands"))
    assert list(out) == ["/tarn/basic/sample", "/tarn/status"] + ["/tarn/ARM_1/" + t for t in topics], case

    def decoded(topic, schema):
        schema = Schema(id=1, name=schema, encoding="ros2msg", data=SCHEMAS[schema].encode())
        return DecoderFactory().decoder_for("cdr", schema)(out[topic])

    head = decoded("/tarn/basic/sample", "norvik_tarn_msgs/msg/SampleIndex")
    assert (head.header.stamp.sec, head.header.stamp.nanosec, head.stamped, head.index) == header + (41,)
    status = decoded("/tarn/status", "norvik_tarn_msgs/msg/RobotStatus")
    assert (status.system_state, status.safety_board_state, status.digital_inputs[0], status.digital_outputs[0],
            status.digital_outputs[19]) == (5, 7, True, False, True)
    if topics:
        joints = decoded("/tarn/ARM_1/joint_states", "sensor_msgs/msg/JointState")
        assert (joints.name, joints.position, joints.velocity) == (["ARM_1_joint_1", "ARM_1_joint_2"], list(q), [])
        q_ros = decoded("/tarn/ARM_1/tcp_pose", "geometry_msgs/msg/PoseStamped").pose.orientation
        assert [q_ros.x, q_ros.y, q_ros.z, q_ros.w] == [0.1, 0.2, 0.3, 0.5]  # ROS order: w last
    assert messages.basic(sample, lambda topic: False) == []  # nothing packed for topics nobody reads
