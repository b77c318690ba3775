"""The columns of a recording: one per value, named GROUP.FIELD.PART.

PART is the joint number (from 1) for per-joint lists, or the component of a
fixed array: x y z qw qx qy qz for poses, vx vy vz wx wy wz for twists,
fx fy fz mx my mz for wrenches. Every row has the columns of both streams;
a row fills those of its own stream (column `stream`: basic or extra) and
leaves the others empty.
"""

POSE = ("x", "y", "z", "qw", "qx", "qy", "qz")
TWIST = ("vx", "vy", "vz", "wx", "wy", "wz")
WRENCH = ("fx", "fy", "fz", "mx", "my", "mz")

STATE_LISTS = ("q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature")
STATE_ARRAYS = (("flange_pose", POSE), ("tcp_pose", POSE), ("tcp_twist", TWIST), ("tcp_wrench", WRENCH),
                ("tcp_wrench_local", WRENCH), ("raw_tcp_wrench", WRENCH), ("raw_tcp_wrench_local", WRENCH),
                ("raw_ft_sensor", WRENCH))
ACTION_LISTS = ("q_d", "dq_d", "tau_d")
ACTION_ARRAYS = (("tcp_pose_d", POSE), ("tcp_twist_d", TWIST), ("tcp_wrench_d", WRENCH))

# stamp: the robot's; for extra rows the stamp of the states sample the commands followed
COMMON = ("stream", "index", "stamp_sec", "stamp_nanosec", "received_at")
STATUS = (("system_state", "safety_board_state", "estop_released", "enabling_device_on")
          + tuple("di.%d" % i for i in range(20)) + tuple("do.%d" % i for i in range(20)))


def _fields(lists, arrays, dof):
    """(field, parts) for one group: the lists have one part per joint."""
    return [(f, tuple(str(j + 1) for j in range(dof))) for f in lists] + list(arrays)


class Layout:
    """Which groups and fields a recording has, fixed when it starts (the client's groups never change)."""

    def __init__(self, state_groups, action_groups):
        # [(group name, dof)] in the client's order
        self.state_groups = [(name, _fields(STATE_LISTS, STATE_ARRAYS, dof)) for name, dof in state_groups]
        self.action_groups = [(name, _fields(ACTION_LISTS, ACTION_ARRAYS, dof)) for name, dof in action_groups]
        self.columns = list(COMMON) + list(STATUS)
        for groups in (self.state_groups, self.action_groups):
            for name, fields in groups:
                for field, parts in fields:
                    self.columns += ["%s.%s.%s" % (name, field, part) for part in parts]

    @classmethod
    def from_client(cls, states, actions):
        return cls([(g.name, len(s.q)) for g, s in states.items()],
                   [(g.name, len(a.q_d)) for g, a in actions.items()])

    def state_width(self):
        return sum(len(p) for _, fields in self.state_groups for _, p in fields)

    def action_width(self):
        return sum(len(p) for _, fields in self.action_groups for _, p in fields)


def split(column):
    """"ARM_1.q.3" -> ("ARM_1", "q", "3"); None for the common and status columns."""
    parts = column.split(".")
    return tuple(parts) if len(parts) == 3 and parts[0] not in ("di", "do") else None
