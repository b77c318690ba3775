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

from tarn_cli_support import TOOL_DIR, one_error_line, start_tarn, tarn, tool_env, wait_until

pytest.importorskip("foxglove")
websockets_sync = pytest.importorskip("websockets.sync.client")
pytest.importorskip("mcap_ros2")
from mcap.reader import make_reader  # noqa: E402
from mcap.records import Schema  # noqa: E402
from mcap_ros2.decoder import DecoderFactory  # noqa: E402

SUBPROTOCOL = "foxglove.sdk.v1"  # foxglove.websocket.v1 under the name the SDK and Foxglove use now
PERIOD_NS = 5_000_000  # tarn-sim at 200 Hz
LAYOUT = {"ARMS": (0, 14), "ARM_1": (0, 7), "ARM_2": (7, 7), "EXT_AXIS": (14, 1)}  # dual: start, DoF
CARTESIAN_ORDER = ("ARMS", "ARM_1", "ARM_2", "EXT_AXIS")  # the robot's cartesian_data entries
Group = namedtuple("Group", "name")  # a norviktarn.JointGroup as the packing reads it


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


@contextlib.contextmanager
def bridge(*args):
    """`tarn bridge ARGS --port 0` serving; yields (process, URL, ended) where ended() stops it with SIGINT
    and returns (returncode, stdout, stderr). The process is gone afterwards, also when the test fails."""
    proc = start_tarn("bridge", *args, "--port", "0")
    done = {}

    def ended(sig=signal.SIGINT):
        if not done:
            proc.send_signal(sig)
            out, err = proc.communicate(timeout=20)
            done.update(returncode=proc.returncode, stdout=first + out, stderr=err)
        return done["returncode"], done["stdout"], done["stderr"]

    try:
        ready, _, _ = select.select([proc.stdout], [], [], 30)
        first = proc.stdout.readline() if ready else ""
        m = re.match(r"serving \S+ on (ws://127\.0\.0\.1:\d+) \(\d+ topics, up to [\d.]+ Hz each\); Ctrl-C stops$",
                     first.strip())
        if not m:
            proc.kill()
            pytest.fail("the bridge did not start: %r %r" % (first, proc.communicate(timeout=10)))
        yield proc, m.group(1), ended
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate(timeout=10)


class Viewer:
    """A Foxglove WebSocket client: the advertised channels, subscriptions, and message data frames."""

    def __init__(self, url, sock=None):
        self.ws = websockets_sync.connect(url, subprotocols=[SUBPROTOCOL], sock=sock, max_queue=4, open_timeout=10,
                                            close_timeout=1)
        self.channels = {}  # topic: advertised channel
        self.topics = {}    # subscription id: topic

    def advertised(self, timeout=10.0):
        """The channels of the first advertise message: the bridge makes them all before it says it serves."""
        deadline = time.monotonic() + timeout
        while not self.channels:
            message = self.ws.recv(timeout=max(0.01, deadline - time.monotonic()))
            if isinstance(message, str) and json.loads(message)["op"] == "advertise":
                self.channels = {c["topic"]: c for c in json.loads(message)["channels"]}
        return self.channels

    def subscribe(self, topics):
        subs = [{"id": len(self.topics) + n + 1, "channelId": self.channels[t]["id"]} for n, t in enumerate(topics)]
        self.topics.update({s["id"]: t for s, t in zip(subs, topics)})
        self.ws.send(json.dumps({"op": "subscribe", "subscriptions": subs}))

    def next_message(self, timeout):
        """(topic, log time, CDR data) of the next message data frame."""
        deadline = time.monotonic() + timeout
        while True:
            frame = self.ws.recv(timeout=max(0.01, deadline - time.monotonic()))
            if isinstance(frame, bytes) and frame[:1] == b"\x01":
                sub, log_time = struct.unpack_from("<IQ", frame, 1)
                return self.topics[sub], log_time, frame[13:]

    def close(self):
        self.ws.close()


def decoder(schema_name, n=1):
    from tarn_cli.mcap_topics import SCHEMAS

    return DecoderFactory().decoder_for("cdr", Schema(id=n, name=schema_name, encoding="ros2msg",
                                                      data=SCHEMAS[schema_name].encode()))


def decoders(channels):
    factory = DecoderFactory()
    out = {}
    for n, (topic, c) in enumerate(channels.items()):
        assert (c["encoding"], c["schemaEncoding"]) == ("cdr", "ros2msg"), c
        # the factory keeps a decoder per schema id
        out[topic] = factory.decoder_for("cdr", Schema(id=n + 1, name=c["schemaName"], encoding="ros2msg",
                                                       data=c["schema"].encode()))
    return out


def mcap_channels(path):
    with open(path, "rb") as f:
        summary = make_reader(f).get_summary()
    return {c.topic: (summary.schemas[c.schema_id].name, summary.schemas[c.schema_id].data.decode(),
                      c.message_encoding, summary.schemas[c.schema_id].encoding) for c in summary.channels.values()}


def test_topics_and_schemas_are_those_of_the_mcap_recording(dual_robot, tmp_path):
    selection = ("--groups", "ARM_1,EXT_AXIS", "--fields", "q,dq,tau,tcp_pose,tcp_wrench_local,q_d")
    done = tarn("record", dual_robot.serial, "--duration", "0.5", "--out", tmp_path / "run.mcap", "--quiet",
                *selection)
    assert done.returncode == 0, done
    recorded = mcap_channels(tmp_path / "run.mcap")
    with bridge(dual_robot.serial, *selection) as (_, url, ended):
        viewer = Viewer(url)
        try:
            served = viewer.advertised()
        finally:
            viewer.close()
        returncode, stdout, stderr = ended()
    assert {t: (c["schemaName"], c["schema"], c["encoding"], c["schemaEncoding"]) for t, c in served.items()} == recorded
    assert "/tarn/ARM_1/tcp_pose" in served and "/tarn/ARM_2/joint_states" not in served
    assert returncode == 0, (stdout, stderr)
    assert re.search(r"^served %s for [\d.]+ s: \d+ basic and \d+ extra samples, 0 messages, 0 viewers$"
                     % re.escape(dual_robot.serial), stdout, re.M), stdout


def _by_stamp(samples):
    return {(m["stamp_sec"], m["stamp_nanosec"]): m for m in samples if m is not None}


def test_messages_hold_what_the_robot_sent_at_the_rate(start_robot, session):
    from tarn_sim.testing import Recorder

    robot = start_robot("--stamp-from-counter", name="stamps")
    topics = ("/tarn/ARM_1/joint_states", "/tarn/ARM_2/tcp_pose", "/tarn/ARM_1/joint_commands", "/tarn/status",
              "/tarn/basic/sample")
    got = {t: [] for t in topics}
    with Recorder(session, robot.prefix, "basic") as basic, Recorder(session, robot.prefix, "extra") as extra:
        with bridge(robot.serial, "--rate", "20") as (_, url, ended):
            viewer = Viewer(url)
            try:
                decode = decoders({t: c for t, c in viewer.advertised().items() if t in topics})
                viewer.subscribe(topics)
                started = time.monotonic()
                for _ in range(400):  # 2 s of 5 topics at 20 Hz, and some
                    topic, log_time, data = viewer.next_message(timeout=5)
                    got[topic].append((log_time, decode[topic](data)))
                    if time.monotonic() - started > 2.0:
                        break
                wall = time.time_ns()
            finally:
                viewer.close()
            returncode, stdout, stderr = ended(signal.SIGTERM)
        wait_until(lambda: basic.samples and extra.samples, what="the robot's streams beside the bridge")
        sent_basic = _by_stamp(d for _, d, _ in basic.samples)
        sent_extra = {tuple(d["q_d"][:7]): d for _, d, _ in extra.samples if d is not None}
    assert returncode == 0 and "Traceback" not in stderr, (stdout, stderr)
    assert re.search(r"^served .+, [1-9]\d* messages, 1 viewer$", stdout, re.M), stdout
    for topic, messages in got.items():
        # 20 Hz of a 200 Hz robot: one in about ten samples, in order, never a burst
        assert 20 <= len(messages) <= 50, (topic, len(messages))
        stamps = [m.header.stamp.sec * 1_000_000_000 + m.header.stamp.nanosec for _, m in messages]
        steps = [b - a for a, b in zip(stamps, stamps[1:])]
        assert all(s % PERIOD_NS == 0 and s >= 4 * PERIOD_NS for s in steps), (topic, steps)
        # the robot's time in the header (counted from its start), the arrival on the wall clock as log time
        assert stamps[-1] < 3600 * 1_000_000_000
        assert all(0 < wall - t < 30 * 1_000_000_000 for t, _ in messages), topic
    for _, m in got["/tarn/ARM_1/joint_states"]:
        sent = sent_basic[(m.header.stamp.sec, m.header.stamp.nanosec)]["joint_data"]
        assert m.name == ["ARM_1_joint_%d" % (j + 1) for j in range(7)]
        assert [f32(v) for v in m.position] == sent["q"][:7]
        assert [f32(v) for v in m.velocity] == sent["dq"][:7]
        assert [f32(v) for v in m.effort] == sent["tau"][:7]
    for _, m in got["/tarn/ARM_2/tcp_pose"]:
        sent = sent_basic[(m.header.stamp.sec, m.header.stamp.nanosec)]["cartesian_data"]
        x, y, z, qw, qx, qy, qz = sent[CARTESIAN_ORDER.index("ARM_2")]["tcp_pose"]
        p, q = m.pose.position, m.pose.orientation
        assert m.header.frame_id == "world"
        assert [f32(v) for v in (p.x, p.y, p.z, q.x, q.y, q.z, q.w)] == [x, y, z, qx, qy, qz, qw]
    for _, m in got["/tarn/ARM_1/joint_commands"]:
        sent = sent_extra[tuple(f32(v) for v in m.position)]
        assert [f32(v) for v in m.effort] == sent["tau_d"][:7]
        assert [f32(v) for v in m.velocity] == sent["dq_d"][:7]
    for _, m in got["/tarn/status"]:
        sent = sent_basic[(m.header.stamp.sec, m.header.stamp.nanosec)]
        assert (m.system_state, m.safety_board_state) == (sent["system_state"], sent["safety_board_state"])
        assert list(m.digital_inputs) == list(sent["digital_inputs"])
    indices = [m.index for _, m in got["/tarn/basic/sample"]]
    assert all(m.stamped for _, m in got["/tarn/basic/sample"])
    assert all(b > a for a, b in zip(indices, indices[1:])), indices


def _slow_socket(url):
    """A connection with a small receive window: a viewer that stops reading soon stops the bytes too."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.settimeout(10)
    sock.connect(("127.0.0.1", int(url.rsplit(":", 1)[1])))
    return sock


def test_a_viewer_that_never_reads_slows_nobody(start_robot):
    """A viewer that stops reading loses its oldest messages; another viewer and the robot's client go on."""
    robot = start_robot(name="slow")
    seconds = 4.0
    with bridge(robot.serial, "--rate", "200") as (_, url, ended):
        # websockets stops reading the socket once max_queue frames wait for recv(), which never comes
        slow = Viewer(url, sock=_slow_socket(url))
        fast = Viewer(url)
        try:
            decode = decoders(slow.advertised())["/tarn/basic/sample"]
            slow.subscribe(list(slow.channels))
            fast.advertised()
            fast.subscribe(["/tarn/basic/sample"])
            indices = []
            started = time.monotonic()
            while time.monotonic() - started < seconds and len(indices) < 5000:
                indices.append(decode(fast.next_message(timeout=5)[2]).index)
            # now the slow one reads: what it missed was dropped, not kept back
            behind, jump = [], 0
            started = time.monotonic()
            while time.monotonic() - started < 20 and jump <= 100:
                topic, _, data = slow.next_message(timeout=5)
                if topic == "/tarn/basic/sample":
                    behind.append(decode(data).index)
                    jump = max(jump, behind[-1] - behind[-2]) if len(behind) > 1 else 0
            read = time.monotonic() - started
            fast.close()
            # stopped while the slow one is stuck again (it reads no more): the bridge still ends at once
            stopping = time.monotonic()
            returncode, stdout, stderr = ended()
            stopping = time.monotonic() - stopping
        finally:
            fast.close()
            slow.ws.socket.close()  # as a viewer that vanishes: no closing handshake
    assert returncode == 0, (stdout, stderr)
    assert stopping < 5, stopping
    # the robot sends 200 samples a second: the fast viewer saw most of them, in order
    assert len(indices) > 0.5 * 200 * seconds, len(indices)
    assert all(b > a for a, b in zip(indices, indices[1:]))
    print("\n[ figure ] slow viewer: %d samples of the fast one in %.0f s; the slow one, reading again, found a "
          "jump of %d samples after %d in order (%.1f s of reading)" % (len(indices), seconds, jump, len(behind), read))
    assert jump > 100, behind[:20]
    m = re.search(r"served \S+ for ([\d.]+) s: (\d+) basic and (\d+) extra samples, \d+ messages, 2 viewers$",
                  stdout.strip())
    assert m, stdout
    elapsed, basic, extra = float(m.group(1)), int(m.group(2)), int(m.group(3))
    assert basic > 0.5 * 200 * elapsed and extra > 0.5 * 200 * elapsed, stdout


def test_a_port_in_use_is_one_line(dual_robot):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        done = tarn("bridge", dual_robot.serial, "--port", port)
    assert done.returncode == 1, done
    one_error_line(done, "tarn: cannot serve on 127.0.0.1:%d: address already in use (another bridge? "
                         "--port picks another)" % port)
    assert done.stdout == "" and done.seconds < 10


def test_no_robot_is_one_line(start_robot):
    start_robot(name="other")  # someone answers, not the one asked for
    done = tarn("bridge", "Nobody 4s-000000", "--port", "0")
    assert done.returncode == 3, done
    one_error_line(done, "tarn: no robot answers as Nobody-4s-000000 (check the network link")


@pytest.mark.parametrize("args, message", [
    (("--rate", "0"), "tarn: --rate must be more than 0 and at most 1000 Hz"),
    (("--rate", "nan"), "tarn: --rate must be more than 0 and at most 1000 Hz"),
    (("--port", "65536"), "tarn: --port must be 0 .. 65535 (0: any free port)"),
    (("--fields", "q,speed"), "tarn: no field speed (fields: q, theta, dq, "),
])
def test_bad_options_are_refused_before_connecting(args, message):
    done = tarn("bridge", "AB-CD-77", *args)
    assert done.returncode == 2, done
    one_error_line(done, message)
    assert done.seconds < 10


def test_without_foxglove_sdk_the_hint_names_the_extra(tmp_path):
    shadow = tmp_path / "shadow" / "foxglove"
    shadow.mkdir(parents=True)
    (shadow / "__init__.py").write_text("raise ImportError('No module named foxglove')\n")
    done = tarn("bridge", "AB-CD-77", env=tool_env(first=[shadow.parent]))
    assert done.returncode == 1, done
    one_error_line(done, "tarn: serving Foxglove needs foxglove-sdk (pip install foxglove-sdk, or pip install "
                         "'norviktarn[bridge]' for the version tested with it)")


def test_help_names_the_bridge_and_its_options():
    done = tarn("--help")
    assert "\n    bridge " in done.stdout and "tarn bridge SN" in done.stdout, done
    done = tarn("bridge", "--help")
    assert done.returncode == 0 and done.stdout.startswith("usage: tarn bridge "), done
    for option in ("SN", "--host", "--port", "--rate", "--groups", "--fields", "--connect", "ws://127.0.0.1:8765"):
        assert option in done.stdout, option


@pytest.fixture(scope="module")
def packing():
    """BridgeMessages of one two-joint group ARM_1 (q, tcp_pose; q_d), and a states sample maker."""
    sys.path.insert(0, str(TOOL_DIR))
    from tarn_cli.bridge_messages import BridgeMessages
    from tarn_cli.columns import Layout

    messages = BridgeMessages(Layout([("ARM_1", 2)], [("ARM_1", 2)], {"q", "tcp_pose", "q_d"}))

    def sample(groups=("ARM_1",), stamp=(12, 5_000_000), q=(0.5, -0.25)):
        record = SimpleNamespace(timestamp=stamp, q=list(q), tcp_pose=[1.0, 2.0, 3.0, 0.5, 0.1, 0.2, 0.3])
        return SimpleNamespace(index=41, states={Group(g): record for g in groups},
                               system_state=5, safety_board_state=7, estop_released=True, enabling_device_on=False,
                               digital_inputs=[True] + [False] * 19, digital_outputs=[False] * 19 + [True])

    return messages, sample


def test_a_sample_packs_into_the_messages_a_viewer_asked_for(packing):
    messages, sample = packing
    assert [t.name for t in messages.topics()] == [
        "/tarn/basic/sample", "/tarn/status", "/tarn/ARM_1/joint_states", "/tarn/ARM_1/tcp_pose",
        "/tarn/extra/sample", "/tarn/ARM_1/joint_commands"]
    out = dict(messages.basic(sample(), lambda topic: True))
    assert list(out) == ["/tarn/basic/sample", "/tarn/status", "/tarn/ARM_1/joint_states", "/tarn/ARM_1/tcp_pose"]
    joints = decoder("sensor_msgs/msg/JointState")(out["/tarn/ARM_1/joint_states"])
    assert (joints.header.stamp.sec, joints.header.stamp.nanosec) == (12, 5_000_000)
    assert joints.name == ["ARM_1_joint_1", "ARM_1_joint_2"] and joints.position == [0.5, -0.25]
    assert joints.velocity == [] and joints.effort == []  # fields not served
    pose = decoder("geometry_msgs/msg/PoseStamped", 2)(out["/tarn/ARM_1/tcp_pose"]).pose
    assert [pose.orientation.x, pose.orientation.y, pose.orientation.z, pose.orientation.w] == [0.1, 0.2, 0.3, 0.5]
    status = decoder("norvik_tarn_msgs/msg/RobotStatus", 3)(out["/tarn/status"])
    assert (status.system_state, status.safety_board_state, status.estop_released) == (5, 7, True)
    assert status.digital_inputs[0] and status.digital_outputs[19] and not status.digital_outputs[0]
    # nothing is packed for a topic nobody reads
    only = messages.basic(sample(), lambda topic: topic == "/tarn/ARM_1/tcp_pose")
    assert [topic for topic, _ in only] == ["/tarn/ARM_1/tcp_pose"]


@pytest.mark.parametrize("case, kwargs, stamp, stamped", [
    ("no groups", {"groups": ()}, (0, 0), False),
    ("another group", {"groups": ("ARM_2",)}, (12, 5_000_000), True),
    ("a field of another size", {"q": (0.5,)}, (12, 5_000_000), True),
])
def test_a_sample_that_does_not_fit_sends_no_group_messages(packing, case, kwargs, stamp, stamped):
    messages, sample = packing
    out = dict(messages.basic(sample(**kwargs), lambda topic: True))
    assert list(out) == ["/tarn/basic/sample", "/tarn/status"], case
    head = decoder("norvik_tarn_msgs/msg/SampleIndex", 4)(out["/tarn/basic/sample"])
    assert (head.index, head.stamped) == (41, stamped)
    assert (head.header.stamp.sec, head.header.stamp.nanosec) == stamp


def test_a_stamp_with_nanoseconds_out_of_range_is_the_same_instant(packing):
    messages, sample = packing
    out = dict(messages.basic(sample(stamp=(12, -1)), lambda topic: True))
    joints = decoder("sensor_msgs/msg/JointState")(out["/tarn/ARM_1/joint_states"])
    assert (joints.header.stamp.sec, joints.header.stamp.nanosec) == (11, 999_999_999)
