"""The topics of an MCAP recording: which message type each has and which columns it carries.

Per joint group G (stamped with the robot's time, frame "world" for values in
the world frame, "G_tcp" for those in the TCP frame):

  /tarn/G/joint_states     sensor_msgs/msg/JointState      q, dq, tau
  /tarn/G/joint_commands   sensor_msgs/msg/JointState      q_d, dq_d, tau_d
  /tarn/G/joint_extra      norvik_tarn_msgs/msg/JointExtra theta, dtheta, tau_dot, tau_ext, tau_interact, temperature
  /tarn/G/FIELD            geometry_msgs/msg/PoseStamped   flange_pose, tcp_pose, tcp_pose_d
                           geometry_msgs/msg/TwistStamped  tcp_twist, tcp_twist_d
                           geometry_msgs/msg/WrenchStamped tcp_wrench, tcp_wrench_local, raw_tcp_wrench,
                                                           raw_tcp_wrench_local, raw_ft_sensor, tcp_wrench_d
and for the robot:
  /tarn/status             norvik_tarn_msgs/msg/RobotStatus  system and safety-board state, e-stop, enabling
                                                             device, digital inputs and outputs
  /tarn/basic/sample, /tarn/extra/sample  norvik_tarn_msgs/msg/SampleIndex  the client's sample number

A sample's messages follow its SampleIndex message in the file and carry its
index as their MCAP sequence number. An array of a field left out of the
recording is empty.
"""

import operator

from . import cdr
from .columns import STATUS

SEP = "=" * 80 + "\n"
TIME = "MSG: builtin_interfaces/Time\nint32 sec\nuint32 nanosec\n"
HEADER = "MSG: std_msgs/Header\nbuiltin_interfaces/Time stamp\nstring frame_id\n"
VECTOR3 = "MSG: geometry_msgs/Vector3\nfloat64 x\nfloat64 y\nfloat64 z\n"


def _schema(body, *deps):
    return body + "".join(SEP + d for d in deps + (HEADER, TIME))


SCHEMAS = {
    "sensor_msgs/msg/JointState": _schema(
        "std_msgs/Header header\nstring[] name\nfloat64[] position\nfloat64[] velocity\nfloat64[] effort\n"),
    "geometry_msgs/msg/PoseStamped": _schema(
        "std_msgs/Header header\ngeometry_msgs/Pose pose\n",
        "MSG: geometry_msgs/Pose\ngeometry_msgs/Point position\ngeometry_msgs/Quaternion orientation\n",
        "MSG: geometry_msgs/Point\nfloat64 x\nfloat64 y\nfloat64 z\n",
        "MSG: geometry_msgs/Quaternion\nfloat64 x\nfloat64 y\nfloat64 z\nfloat64 w\n"),
    "geometry_msgs/msg/TwistStamped": _schema(
        "std_msgs/Header header\ngeometry_msgs/Twist twist\n",
        "MSG: geometry_msgs/Twist\ngeometry_msgs/Vector3 linear\ngeometry_msgs/Vector3 angular\n", VECTOR3),
    "geometry_msgs/msg/WrenchStamped": _schema(
        "std_msgs/Header header\ngeometry_msgs/Wrench wrench\n",
        "MSG: geometry_msgs/Wrench\ngeometry_msgs/Vector3 force\ngeometry_msgs/Vector3 torque\n", VECTOR3),
    "norvik_tarn_msgs/msg/JointExtra": _schema(
        "# the joint values JointState has no place for; units in the file's \"units\" metadata\n"
        "std_msgs/Header header\nstring[] name\nfloat64[] theta\nfloat64[] dtheta\nfloat64[] tau_dot\n"
        "float64[] tau_ext\nfloat64[] tau_interact\nfloat64[] temperature\n"),
    "norvik_tarn_msgs/msg/RobotStatus": _schema(
        "std_msgs/Header header\nint32 system_state\nint32 safety_board_state\nbool estop_released\n"
        "bool enabling_device_on\nbool[20] digital_inputs\nbool[20] digital_outputs\n"),
    "norvik_tarn_msgs/msg/SampleIndex": _schema(
        "# one a sample of a stream (basic: measured states, extra: commanded values), before its other messages;\n"
        "# stamped is false for a sample without joint data (its stamp is then zero)\n"
        "std_msgs/Header header\nuint64 index\nbool stamped\n"),
}

JOINT_MESSAGES = (("joint_states", "sensor_msgs/msg/JointState", ("q", "dq", "tau")),
                  ("joint_commands", "sensor_msgs/msg/JointState", ("q_d", "dq_d", "tau_d")),
                  ("joint_extra", "norvik_tarn_msgs/msg/JointExtra",
                   ("theta", "dtheta", "tau_dot", "tau_ext", "tau_interact", "temperature")))
CARTESIAN = {"PoseStamped": ("x", "y", "z", "qx", "qy", "qz", "qw"),  # ROS orders the quaternion x y z w
             "TwistStamped": ("vx", "vy", "vz", "wx", "wy", "wz"),
             "WrenchStamped": ("fx", "fy", "fz", "mx", "my", "mz")}
CARTESIAN_FIELDS = {"flange_pose": "PoseStamped", "tcp_pose": "PoseStamped", "tcp_pose_d": "PoseStamped",
                    "tcp_twist": "TwistStamped", "tcp_twist_d": "TwistStamped",
                    "tcp_wrench": "WrenchStamped", "raw_tcp_wrench": "WrenchStamped",
                    "tcp_wrench_d": "WrenchStamped", "tcp_wrench_local": "WrenchStamped",
                    "raw_tcp_wrench_local": "WrenchStamped", "raw_ft_sensor": "WrenchStamped"}
TCP_FRAME = ("tcp_wrench_local", "raw_tcp_wrench_local", "raw_ft_sensor")


class Topic:
    """One topic: its message shape and the positions, in its stream's value list, of what it carries."""

    def __init__(self, name, schema, stream, shape, positions):
        self.name, self.schema, self.stream, self.shape = name, schema, stream, shape.done()
        self.positions = positions
        self.take = operator.itemgetter(*positions) if len(positions) > 1 else (lambda v: (v[positions[0]],))


def _offsets(groups):
    """{(group, field): (first position, parts)} in a stream's value list."""
    out, at = {}, 0
    for name, fields in groups:
        for field, parts in fields:
            out[(name, field)] = (at, parts)
            at += len(parts)
    return out


def _group_topics(groups, stream):
    offsets = _offsets(groups)
    topics = []
    for name, fields in groups:
        present = dict(fields)
        for suffix, schema, names in JOINT_MESSAGES:
            chosen = [f for f in names if f in present]
            if not chosen:
                continue
            dof = len(present[chosen[0]])
            shape = cdr.Shape().stamped("").strings(["%s_joint_%d" % (name, j + 1) for j in range(dof)])
            positions = []
            for f in names:
                n = len(present[f]) if f in present else 0
                shape.array("f64", n)
                if n:
                    at = offsets[(name, f)][0]
                    positions += range(at, at + n)
            topics.append(Topic("/tarn/%s/%s" % (name, suffix), schema, stream, shape, positions))
        for field, parts in fields:
            kind = CARTESIAN_FIELDS.get(field)
            if kind is None:
                continue
            frame = "%s_tcp" % name if field in TCP_FRAME else "world"
            at = offsets[(name, field)][0]
            positions = [at + parts.index(p) for p in CARTESIAN[kind]]
            shape = cdr.Shape().stamped(frame).values("f64", len(positions))
            topics.append(Topic("/tarn/%s/%s" % (name, field), "geometry_msgs/msg/" + kind, stream, shape, positions))
    return topics


def sample_topic(stream):
    shape = cdr.Shape().stamped("").values("u64", 1).values("bool", 1)
    return Topic("/tarn/%s/sample" % stream, "norvik_tarn_msgs/msg/SampleIndex", stream, shape, [0, 1])


def status_topic():
    shape = (cdr.Shape().stamped("").values("i32", 2).values("bool", 2).values("bool", 20).values("bool", 20))
    return Topic("/tarn/status", "norvik_tarn_msgs/msg/RobotStatus", "basic", shape, list(range(len(STATUS))))


def topics(layout):
    """(basic topics, extra topics) of a layout, without the sample and status topics."""
    return _group_topics(layout.state_groups, "basic"), _group_topics(layout.action_groups, "extra")


