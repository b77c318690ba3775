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


FIELDS = STATE_LISTS + tuple(f for f, _ in STATE_ARRAYS) + ACTION_LISTS + tuple(f for f, _ in ACTION_ARRAYS)

# the unit of every value; an external axis may slide, so its joint units say both
_JOINT_UNITS = {"q": "rad", "theta": "rad", "dq": "rad/s", "dtheta": "rad/s", "tau": "N·m", "tau_dot": "N·m/s",
                "tau_ext": "N·m", "tau_interact": "N·m", "temperature": "°C", "q_d": "rad", "dq_d": "rad/s",
                "tau_d": "N·m"}
_PART_UNITS = {"x": "m", "y": "m", "z": "m", "qw": "1", "qx": "1", "qy": "1", "qz": "1",
               "vx": "m/s", "vy": "m/s", "vz": "m/s", "wx": "rad/s", "wy": "rad/s", "wz": "rad/s",
               "fx": "N", "fy": "N", "fz": "N", "mx": "N·m", "my": "N·m", "mz": "N·m"}
_LINEAR = {"rad": "rad or m", "rad/s": "rad/s or m/s", "N·m": "N·m or N", "N·m/s": "N·m/s or N/s"}
STATUS_UNITS = {"system_state": "code", "safety_board_state": "code", "estop_released": "bool",
                "enabling_device_on": "bool", "di": "bool", "do": "bool"}
COMMON_UNITS = {"stamp_sec": "s (robot clock)", "stamp_nanosec": "ns (robot clock)",
                "received_at": "s (monotonic clock of the recording machine)"}


def unit(group, field, part=None):
    """The unit of GROUP.FIELD.PART (part None: a joint list)."""
    if field in _JOINT_UNITS:
        u = _JOINT_UNITS[field]
        return _LINEAR.get(u, u) if group == "EXT_AXIS" else u
    return _PART_UNITS[part]


def _fields(lists, arrays, dof, chosen):
    """(field, parts) for one group: the lists have one part per joint; only the chosen fields (None: all)."""
    return ([(f, tuple(str(j + 1) for j in range(dof))) for f in lists if chosen is None or f in chosen]
            + [(f, p) for f, p in arrays if chosen is None or f in chosen])


class Layout:
    """Which groups and fields a recording has, fixed when it starts (the client's groups never change)."""

    def __init__(self, state_groups, action_groups, fields=None):
        # [(group name, dof)] in the client's order; fields: the field names to keep (None: all)
        self.state_groups = [(name, _fields(STATE_LISTS, STATE_ARRAYS, dof, fields)) for name, dof in state_groups]
        self.action_groups = [(name, _fields(ACTION_LISTS, ACTION_ARRAYS, dof, fields))
                              for name, dof in action_groups]
        self.fields = fields
        self.dof = dict(state_groups + action_groups)
        # where the kept groups sit among all the client cuts a sample into: (positions, count)
        self.state_picks = (list(range(len(state_groups))), len(state_groups))
        self.action_picks = (list(range(len(action_groups))), len(action_groups))
        self.columns = list(COMMON) + list(STATUS)
        for groups in (self.state_groups, self.action_groups):
            for name, fields in groups:
                for field, parts in fields:
                    self.columns += ["%s.%s.%s" % (name, field, part) for part in parts]

    @classmethod
    def from_client(cls, states, actions, groups=None, fields=None):
        """The layout of the groups the client cuts, or of those named in `groups` only."""
        keep = (lambda g: True) if groups is None else (lambda g: g.name in groups)
        layout = cls([(g.name, len(s.q)) for g, s in states.items() if keep(g)],
                     [(g.name, len(a.q_d)) for g, a in actions.items() if keep(g)], fields)
        layout.state_picks = ([i for i, g in enumerate(states) if keep(g)], len(states))
        layout.action_picks = ([i for i, g in enumerate(actions) if keep(g)], len(actions))
        return layout

    @classmethod
    def from_columns(cls, columns):
        """The layout a recording's header was written with; None when no layout writes these columns."""
        found = {}  # group -> {field: parts}, in column order
        for c in columns:
            parts = split(c)
            if parts is not None:
                found.setdefault(parts[0], {}).setdefault(parts[1], []).append(parts[2])
        state_names = set(STATE_LISTS) | {f for f, _ in STATE_ARRAYS}
        action_names = set(ACTION_LISTS) | {f for f, _ in ACTION_ARRAYS}
        fields = {f for by in found.values() for f in by}
        if not fields <= set(FIELDS):
            return None
        dof = {g: max([len(p) for f, p in by.items() if f in _JOINT_UNITS] or [0]) for g, by in found.items()}
        layout = cls([(g, dof[g]) for g, by in found.items() if set(by) & state_names],
                     [(g, dof[g]) for g, by in found.items() if set(by) & action_names], fields)
        return layout if layout.columns == list(columns) else None

    def group_names(self):
        names = []
        for name, _ in self.state_groups + self.action_groups:
            if name not in names:
                names.append(name)
        return names

    def units(self):
        """{column: unit} of every column but `stream` and `index`."""
        out = dict(COMMON_UNITS)
        out.update({c: STATUS_UNITS[c.split(".")[0]] for c in STATUS})
        for groups in (self.state_groups, self.action_groups):
            for name, fields in groups:
                for field, parts in fields:
                    for part in parts:
                        out["%s.%s.%s" % (name, field, part)] = unit(name, field, part)
        return out

    def state_width(self):
        return sum(len(p) for _, fields in self.state_groups for _, p in fields)

    def action_width(self):
        return sum(len(p) for _, fields in self.action_groups for _, p in fields)


def covered_groups(layout):
    """Groups whose joints other groups hold all of (ARMS = ARM_1 + ARM_2): {name: the groups that hold them}.

    layout: {name: (start, dof)} as the client learned it."""
    out = {}
    for name, (start, dof) in layout.items():
        others = [(n, s, d) for n, (s, d) in layout.items()
                  if n != name and d < dof and start <= s and s + d <= start + dof]
        joints = set()
        for _, s, d in others:
            joints.update(range(s, s + d))
        if dof and joints >= set(range(start, start + dof)):
            out[name] = [n for n, _, _ in others]
    return out


def split(column):
    """"ARM_1.q.3" -> ("ARM_1", "q", "3"); None for the common and status columns."""
    parts = column.split(".")
    return tuple(parts) if len(parts) == 3 and parts[0] not in ("di", "do") else None
