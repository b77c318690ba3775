"""Turns robot snapshots into basic and extra stream payloads.

Also where stream faults are injected, because they must be applied to
the message itself: a wrong fixed-array prefix is made by giving a fixed
array the wrong number of elements (the serializer then writes the matching
wrong prefix), a trailing byte or a cut by editing the serialized bytes.
"""

from zenoh.ext import Float32, Int16, Int32, UInt16, UInt32, z_serialize

from . import quat

F = Float32
STREAMS = ("basic", "extra")
MALFORMED_KINDS = ("prefix", "trailing", "cut")


def fl(values):
    return list(map(F, values))


_ZERO_BASIC_CARTESIAN = tuple(fl([0.0] * n) for n in (7, 7, 6, 6, 6, 6, 6))
_ZERO_EXTRA_CARTESIAN = tuple(fl([0.0] * n) for n in (7, 6, 6))


class StreamFaults:
    """The stream switches in force for one sample."""

    __slots__ = ("malformed", "inconsistent", "invalid_group")

    def __init__(self, malformed=None, inconsistent=None, invalid_group=None):
        # per stream: (kind, ratio) or None / bool / group value or None
        self.malformed = malformed or {}
        self.inconsistent = inconsistent or {}
        self.invalid_group = invalid_group or {}


NO_FAULTS = StreamFaults()


class StreamBuilder:
    def __init__(self, profile):
        self.profile = profile
        self._prev = {}  # group -> (t, tcp position, tcp quaternion, desired position, desired quaternion)
        self._due = {s: 0.0 for s in STREAMS}  # malformed-ratio accumulators
        self._malformed_count = {s: 0 for s in STREAMS}

    @property
    def malformed_count(self):
        return dict(self._malformed_count)

    def _twists(self, snap, role, c):
        prev = self._prev.get(role)
        self._prev[role] = (snap.t, c.tcp_p, c.tcp_q, c.tcp_d_p, c.tcp_d_q)
        if prev is None or snap.t <= prev[0]:
            return (0.0,) * 6, (0.0,) * 6
        dt = snap.t - prev[0]
        twist = tuple((c.tcp_p[i] - prev[1][i]) / dt for i in range(3)) + quat.angular_velocity(prev[2], c.tcp_q, dt)
        twist_d = tuple((c.tcp_d_p[i] - prev[3][i]) / dt for i in range(3)) + quat.angular_velocity(prev[4], c.tcp_d_q, dt)
        return twist, twist_d

    def _entries(self, snap, role):
        c = snap.axis if role == 2 else snap.arms[role]
        twist, twist_d = self._twists(snap, role, c)
        # one conversion pass over everything, then cut: far fewer calls per sample
        v = fl(
            c.flange_p + c.flange_q + c.tcp_p + c.tcp_q + twist + c.wrench_local + c.raw_wrench
            + c.raw_wrench_local + c.raw_ft + c.tcp_d_p + c.tcp_d_q + twist_d + c.wrench_d
            + c.contact_p[0] + c.contact_p[1] + c.contact_f[0] + c.contact_f[1]
        )
        basic = (v[0:7], v[7:14], v[14:20], v[20:26], v[26:32], v[32:38], v[38:44])
        extra = (v[44:51], v[51:57], v[57:63])
        return basic, extra, [v[63:66], v[66:69]], [v[69:72], v[72:75]]

    @staticmethod
    def _contacts(done):
        """Contact points and forces per joint, like the other joint arrays.

        An arm touches the world only through its last two links (the two
        fingers); the track through its carriage (both rail shoes as one).
        Roles 0, 1, 2 are arm 1, arm 2 and the track, in joint order.
        """
        zero = fl((0.0, 0.0, 0.0))
        positions, forces = [], []
        for role in sorted(done):
            _, _, p, f = done[role]
            if role == 2:
                positions.append(fl([(p[0][i] + p[1][i]) / 2 for i in range(3)]))
                forces.append(fl([f[0][i] + f[1][i] for i in range(3)]))
            else:
                positions += [zero] * 5 + p
                forces += [zero] * 5 + f
        return positions, forces

    def _malformed_kind(self, stream, faults):
        setting = faults.malformed.get(stream)
        if not setting:
            self._due[stream] = 0.0
            return None
        kind, ratio = setting
        self._due[stream] += ratio
        if self._due[stream] < 1.0 - 1e-9:
            return None
        self._due[stream] -= 1.0
        self._malformed_count[stream] += 1
        return kind

    def build(self, snap, stamp_sec, stamp_nanosec, faults=NO_FAULTS):
        """(basic payload, extra payload) for one sample."""
        groups = list(self.profile.listed)
        basic_cart, extra_cart = [], []
        done = {}  # ARMS and ARM_1 describe the same arm: convert it once
        for g in groups:
            role = snap.role(g)
            if role not in done:
                done[role] = self._entries(snap, role)
            b, e, _, _ = done[role]
            basic_cart.append(b)
            extra_cart.append(e)
        positions, forces = self._contacts(done)

        basic_groups, extra_groups = list(map(UInt16, groups)), list(map(UInt16, groups))
        bad = faults.invalid_group.get("basic")
        if bad is not None:
            # a well-formed entry for a group value the client cannot know
            basic_groups.append(UInt16(bad))
            basic_cart.append(_ZERO_BASIC_CARTESIAN)
        bad = faults.invalid_group.get("extra")
        if bad is not None:
            extra_groups.append(UInt16(bad))
            extra_cart.append(_ZERO_EXTRA_CARTESIAN)
        if faults.inconsistent.get("basic"):
            basic_cart.append(basic_cart[-1] if basic_cart else _ZERO_BASIC_CARTESIAN)
        if faults.inconsistent.get("extra"):
            extra_cart.append(extra_cart[-1] if extra_cart else _ZERO_EXTRA_CARTESIAN)

        basic = [
            UInt16(snap.system_state), Int16(snap.safety_board_state),
            bool(snap.estop_released), bool(snap.enabling_device_on),
            list(snap.safety_inputs), list(snap.digital_inputs), list(snap.digital_outputs),
            basic_groups,
            (
                fl(snap.q), fl(snap.theta), fl(snap.dq), fl(snap.dtheta), fl(snap.tau),
                fl(snap.tau_dot), fl(snap.tau_ext), fl(snap.tau_interact), fl(snap.temperature),
                positions, forces,
            ),
            basic_cart,
            Int32(stamp_sec), UInt32(stamp_nanosec),
        ]
        extra = [extra_groups, fl(snap.q_d), fl(snap.dq_d), fl(snap.tau_d), extra_cart]

        kind = self._malformed_kind("basic", faults)
        if kind == "prefix":
            _bad_basic_prefix(basic, self._malformed_count["basic"])
        basic_payload = _finish(basic, kind, self._malformed_count["basic"])
        kind = self._malformed_kind("extra", faults)
        if kind == "prefix":
            _bad_extra_prefix(extra, self._malformed_count["extra"])
        extra_payload = _finish(extra, kind, self._malformed_count["extra"])
        return basic_payload, extra_payload


def _resize(values, n):
    values = list(values)
    return values[:n] if len(values) >= n else values + [values[-1] if values else F(0.0)] * (n - len(values))


def _bad_basic_prefix(msg, n):
    """Give one fixed array a wrong size; which one changes from sample to sample."""
    choice = n % 5
    if choice < 3 or not msg[9]:
        # safety_inputs 7 of 8, digital_inputs 21 of 20, digital_outputs 19 of 20
        i, wrong = ((4, 7), (5, 21), (6, 19))[choice % 3]
        msg[i] = _resize(msg[i], wrong)
        return
    cart = list(msg[9][0])
    if choice == 3:
        cart[1] = _resize(cart[1], 6)  # tcp_pose
    else:
        cart[4] = _resize(cart[4], 7)  # raw_tcp_wrench
    msg[9] = [tuple(cart)] + msg[9][1:]


def _bad_extra_prefix(msg, n):
    if not msg[4]:
        msg[4] = [_ZERO_EXTRA_CARTESIAN]
    cart = list(msg[4][0])
    i, wrong = ((0, 8), (1, 5), (2, 7))[n % 3]
    cart[i] = _resize(cart[i], wrong)
    msg[4] = [tuple(cart)] + msg[4][1:]


def _finish(msg, kind, n):
    payload = z_serialize(tuple(msg))
    if kind == "trailing":
        return payload.to_bytes() + b"\x00"
    if kind == "cut":
        data = payload.to_bytes()
        # a different cut point each time, anywhere from the first byte to the last
        return data[: 1 + (n * 7919) % (len(data) - 1)]
    return payload
