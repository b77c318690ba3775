"""The simulated robot: joint and Cartesian state as a function of time.

The arms follow the plan's waypoints with cosine blends (smooth position,
velocity and a bounded acceleration), plus a small sine tremor so that
something always moves. Arm 2 mirrors arm 1 across the robot's xz plane;
the external axis is a linear track that carries both arms. Torques come
from a rough gravity and friction model, wrenches from the gripper's load
seen in the tool frame, so that the world-frame wrench a client computes
points down.
"""

import math

from . import kinematics, plan, quat, vocab
from .groups import ARM_1, ARM_2, ARMS, EXT_AXIS

WAYPOINTS = {
    "home": (0.0, -0.30, 0.0, -1.90, 0.0, 1.60, 0.785),
    "above_pick": (0.35, 0.25, 0.0, -1.70, 0.0, 1.95, 0.785),
    "pick": (0.35, 0.45, 0.0, -1.60, 0.0, 2.05, 0.785),
    "above_place": (-0.45, 0.20, 0.10, -1.80, 0.0, 2.00, 0.30),
    "place": (-0.45, 0.38, 0.10, -1.65, 0.0, 2.03, 0.30),
}
MIRROR = (-1.0, 1.0, -1.0, 1.0, -1.0, 1.0, -1.0)

TREMOR_AMPLITUDE = 0.004  # rad
TREMOR_OMEGA = 2.0 * math.pi * 0.7
GRAVITY = 9.81
GRIPPER_MASS = 0.8  # kg
PART_MASS = 0.5
TOOL_COM = (0.0, 0.0, 0.04)  # centre of mass of the load, tool frame
PRESS_FORCE = 8.0  # N, pushed down on the part while placing
GRIP_FORCE = 20.0  # N, per finger pair
FINGER_OFFSET = 0.02  # m, half the finger gap
JOINT_STIFFNESS = 8000.0  # Nm/rad, motor to link
SENSOR_BIAS = (0.40, -0.25, 0.60, 0.020, -0.015, 0.010)
AXIS_MASS = 60.0  # kg moved by the track
AXIS_HEIGHT = 0.8  # m, height of the arms' shoulders above the track
ARM_SPACING = 0.30  # m, each arm's base from the track centre line
IDENTITY = (1.0, 0.0, 0.0, 0.0)


class Cartesian:
    """Cartesian state of one arm (or of the track carriage)."""

    __slots__ = (
        "flange_p", "flange_q", "tcp_p", "tcp_q",
        "wrench_local", "raw_wrench_local", "raw_wrench", "raw_ft",
        "tcp_d_p", "tcp_d_q", "wrench_d",
        "contact_p", "contact_f",
    )


class Snapshot:
    """Everything the streams need for one sample."""

    __slots__ = (
        "t", "point",
        "q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature",
        "q_d", "dq_d", "tau_d",
        "arms", "axis",
        "system_state", "safety_board_state", "estop_released", "enabling_device_on",
        "safety_inputs", "digital_inputs", "digital_outputs",
    )

    def role(self, group):
        """Which body a group's stream entry describes; ARMS carries its leading arm."""
        if group in (ARM_1, ARMS):
            return 0
        if group == ARM_2:
            return 1
        if group == EXT_AXIS:
            return 2
        raise KeyError(group)

    def cartesian(self, group):
        role = self.role(group)
        return self.axis if role == 2 else self.arms[role]


def _blend(progress, duration):
    """Cosine blend 0..1 and its time derivative."""
    s = 0.5 - 0.5 * math.cos(math.pi * progress)
    ds = 0.5 * math.pi * math.sin(math.pi * progress) / duration
    return s, ds


def _arm_torque(q, dq, load):
    """Gravity and friction torques of one arm and their rate of change."""
    s1, c1 = math.sin(q[1]), math.cos(q[1])
    s13, c13 = math.sin(q[1] + q[3]), math.cos(q[1] + q[3])
    s135, c135 = math.sin(q[1] + q[3] + q[5]), math.cos(q[1] + q[3] + q[5])
    k = 1.0 + 0.6 * load
    tau = [
        2.0 * dq[0] + 0.3 * math.sin(q[0]),
        k * (28.0 * s1 + 9.0 * s13) + 1.5 * dq[1],
        0.8 * math.sin(q[2]) + 1.0 * dq[2],
        k * (9.0 * s13 + 2.0 * s135) + 1.0 * dq[3],
        0.4 * math.sin(q[4]) + 0.5 * dq[4],
        k * 2.0 * s135 + 0.5 * dq[5],
        0.1 * math.sin(q[6]) + 0.2 * dq[6],
    ]
    d13 = dq[1] + dq[3]
    d135 = d13 + dq[5]
    tau_dot = [
        0.3 * math.cos(q[0]) * dq[0],
        k * (28.0 * c1 * dq[1] + 9.0 * c13 * d13),
        0.8 * math.cos(q[2]) * dq[2],
        k * (9.0 * c13 * d13 + 2.0 * c135 * d135),
        0.4 * math.cos(q[4]) * dq[4],
        k * 2.0 * c135 * d135,
        0.1 * math.cos(q[6]) * dq[6],
    ]
    return tau, tau_dot


class Robot:
    def __init__(self, profile):
        self.profile = profile
        if profile.arms == 1:
            self._bases = ((0.0, 0.0, 0.0),)
        else:
            self._bases = ((0.0, ARM_SPACING, AXIS_HEIGHT), (0.0, -ARM_SPACING, AXIS_HEIGHT))

    # -- joints -------------------------------------------------------------

    def planned_joints(self, t):
        """The plan's nominal joint trajectory: (point, q, dq) over all joints."""
        point = plan.at(t)
        node, prev = point.node, point.previous
        s, ds = _blend(point.progress, node.duration)
        start = WAYPOINTS[prev.arm_target]
        goal = WAYPOINTS[node.arm_target]
        q, dq = [], []
        for arm in range(self.profile.arms):
            for i in range(7):
                m = MIRROR[i] if arm else 1.0
                delta = (goal[i] - start[i]) * m
                q.append(start[i] * m + delta * s)
                dq.append(delta * ds)
        if self.profile.ext_axis:
            delta = node.axis_target - prev.axis_target
            q.append(prev.axis_target + delta * s)
            dq.append(delta * ds)
        return point, q, dq

    def joints(self, t, with_plan=False):
        """Measured joint positions and velocities: the plan plus the tremor.

        With with_plan, the planned (commanded) ones come along too:
        (point, q, dq, q_plan, dq_plan).
        """
        point, q_plan, dq_plan = self.planned_joints(t)
        q, dq = list(q_plan), list(dq_plan)
        sin, cos = math.sin, math.cos
        for i in range(7 * self.profile.arms):
            phase = TREMOR_OMEGA * t + 0.9 * i
            q[i] += TREMOR_AMPLITUDE * sin(phase)
            dq[i] += TREMOR_AMPLITUDE * TREMOR_OMEGA * cos(phase)
        if with_plan:
            return point, q, dq, q_plan, dq_plan
        return point, q, dq

    def arm_joints(self, q, arm):
        return q[7 * arm: 7 * arm + 7]

    def manipulability(self, t):
        """Manipulability measures of each arm and of the track at time t."""
        point, q, _ = self.joints(t)
        arms = [kinematics.manipulability(self.arm_joints(q, a)) for a in range(self.profile.arms)]
        axis = None
        if self.profile.ext_axis:
            x = q[-1]
            # best in the middle of the 0..0.8 m travel
            room = max(0.0, min(1.0, 1.0 - abs(x - 0.4) / 0.5))
            a = 0.05 + 0.2 * room
            b = 0.2 + 0.6 * room
            axis = (0.8 * a, 0.9 * a, a, 0.7 * b, 0.85 * b, b)
        return arms, axis

    # -- one full sample ----------------------------------------------------

    def snapshot(self, t):
        p = self.profile
        point, q, dq, q_d, dq_d = self.joints(t, with_plan=True)
        node = point.node
        load = 1.0 if node.gripper else 0.0
        pressing = math.sin(math.pi * point.progress) if node.reduced else 0.0

        tau, tau_dot, tau_d, tau_ext = [], [], [], []
        for arm in range(p.arms):
            qa, dqa = self.arm_joints(q, arm), self.arm_joints(dq, arm)
            ta, tda = _arm_torque(qa, dqa, load)
            tau += ta
            tau_dot += tda
            tau_d += _arm_torque(self.arm_joints(q_d, arm), self.arm_joints(dq_d, arm), load)[0]
            for i in range(7):
                contact = PRESS_FORCE * pressing * (0.25, 0.0, 0.0, 0.19, 0.0, 0.05, 0.0)[i]
                tau_ext.append(contact + 0.15 * math.sin(1.3 * t + 0.7 * i + arm))
        if p.ext_axis:
            v = dq[-1]
            force = AXIS_MASS * 0.3 * v + 12.0 * math.tanh(20.0 * v)
            tau.append(force)
            tau_dot.append(0.0)
            tau_d.append(AXIS_MASS * 0.3 * dq_d[-1])
            tau_ext.append(0.5 * math.sin(0.9 * t))
        tau_interact = [0.9 * x for x in tau_ext]
        theta = [q[i] + tau[i] / JOINT_STIFFNESS for i in range(p.dof)]
        dtheta = [dq[i] + tau_dot[i] / JOINT_STIFFNESS for i in range(p.dof)]
        warm = 6.0 * (1.0 - math.exp(-t / 900.0))
        temperature = [30.0 + 0.4 * i + warm + 0.5 * math.sin(t / 40.0 + i) for i in range(p.dof)]

        axis_x = q[-1] if p.ext_axis else 0.0
        axis_x_d = q_d[-1] if p.ext_axis else 0.0
        arms = [
            self._arm_cartesian(arm, q, q_d, axis_x, axis_x_d, load, pressing, t)
            for arm in range(p.arms)
        ]
        axis = self._axis_cartesian(axis_x, tau[-1], t) if p.ext_axis else None

        snap = Snapshot()
        snap.t = t
        snap.point = point
        snap.q, snap.theta, snap.dq, snap.dtheta = q, theta, dq, dtheta
        snap.tau, snap.tau_dot, snap.tau_ext, snap.tau_interact = tau, tau_dot, tau_ext, tau_interact
        snap.temperature = temperature
        snap.q_d, snap.dq_d, snap.tau_d = q_d, dq_d, tau_d
        snap.arms, snap.axis = arms, axis
        self._status(snap, t)
        return snap

    def _arm_cartesian(self, arm, q, q_d, axis_x, axis_x_d, load, pressing, t):
        bx, by, bz = self._bases[arm]
        c = Cartesian()
        fp, fq = kinematics.flange_pose(self.arm_joints(q, arm), (bx + axis_x, by, bz), IDENTITY)
        c.flange_p, c.flange_q = fp, fq
        c.tcp_p, c.tcp_q = kinematics.tcp_from_flange(fp, fq), fq
        dp, dqt = kinematics.flange_pose(self.arm_joints(q_d, arm), (bx + axis_x_d, by, bz), IDENTITY)
        c.tcp_d_p, c.tcp_d_q = kinematics.tcp_from_flange(dp, dqt), dqt

        # load hanging on the tool plus the part pushing back while placing
        mass = GRIPPER_MASS + PART_MASS * load
        f_world = (0.0, 0.0, -mass * GRAVITY + PRESS_FORCE * pressing)
        f = quat.rotate_inv(fq, f_world)
        m = quat.cross(TOOL_COM, f)
        c.wrench_local = f + m
        noise = 0.05 * math.sin(37.0 * t + arm)
        raw = tuple(c.wrench_local[i] + SENSOR_BIAS[i] + noise * (1.0 if i < 3 else 0.01) for i in range(6))
        c.raw_wrench_local = raw
        c.raw_wrench = quat.rotate(fq, raw[:3]) + quat.rotate(fq, raw[3:])
        # the sensor sits at the flange: same force, moment carried over the tool length
        r = quat.cross((0.0, 0.0, kinematics.TOOL_LENGTH), raw[:3])
        c.raw_ft = raw[:3] + (raw[3] + r[0], raw[4] + r[1], raw[5] + r[2])
        c.wrench_d = (0.0, 0.0, -PRESS_FORCE if pressing else 0.0, 0.0, 0.0, 0.0)

        # two finger contacts either side of the TCP along the tool x axis
        side = quat.rotate(fq, (FINGER_OFFSET, 0.0, 0.0))
        tp = c.tcp_p
        c.contact_p = (
            (tp[0] + side[0], tp[1] + side[1], tp[2] + side[2]),
            (tp[0] - side[0], tp[1] - side[1], tp[2] - side[2]),
        )
        grip = GRIP_FORCE * load
        push = quat.rotate(fq, (grip, 0.0, 0.0))
        c.contact_f = ((-push[0], -push[1], -push[2]), push)
        return c

    def _axis_cartesian(self, x, force, t):
        c = Cartesian()
        c.flange_p = c.tcp_p = (x, 0.0, AXIS_HEIGHT)
        c.flange_q = c.tcp_q = IDENTITY
        c.tcp_d_p, c.tcp_d_q = (x, 0.0, AXIS_HEIGHT), IDENTITY
        c.wrench_local = (force, 0.0, 0.0, 0.0, 0.0, 0.0)
        raw = (force + 0.3 * math.sin(11.0 * t), 0.0, 0.0, 0.0, 0.0, 0.0)
        c.raw_wrench_local = c.raw_wrench = c.raw_ft = raw
        c.wrench_d = (0.0,) * 6
        # the carriage's two rail shoes, sharing its weight
        half = 0.5 * AXIS_MASS * GRAVITY
        c.contact_p = ((x - 0.1, 0.0, 0.0), (x + 0.1, 0.0, 0.0))
        c.contact_f = ((0.0, 0.0, half), (0.0, 0.0, half))
        return c

    def _status(self, snap, t):
        point = snap.point
        node = point.node
        snap.system_state = vocab.STOPPED_AUTO if node.waiting else vocab.WORKING_AUTO_EXECUTE
        snap.safety_board_state = vocab.SAFETY_REDUCED if node.reduced else vocab.SAFETY_NORMAL
        snap.estop_released = True
        snap.enabling_device_on = False  # automatic mode needs no enabling device
        snap.safety_inputs = [True] * 8
        moving_axis = self.profile.ext_axis and node.axis_target != point.previous.axis_target
        outputs = [False] * 20
        outputs[0] = node.gripper                 # close gripper
        outputs[1] = not node.waiting             # cycle running
        outputs[2] = point.cycle % 2 == 1         # cycle parity, for the line PLC
        outputs[3] = moving_axis
        inputs = [False] * 20
        # gripper closed, 100 ms behind the command
        inputs[0] = (point.previous if point.elapsed < 0.1 else node).gripper
        inputs[1] = inputs[0]                     # part present in the fingers
        inputs[2 + int(2.0 * t) % 8] = True       # conveyor encoder track
        inputs[10] = node.waiting and point.progress > 0.8  # operator step button
        snap.digital_outputs = outputs
        snap.digital_inputs = inputs
