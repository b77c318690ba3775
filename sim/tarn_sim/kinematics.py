"""Forward kinematics and manipulability of a 7-joint arm.

The arm alternates joint axes z, y, z, y, z, y, z with links along the
local z axis, the usual layout of a redundant collaborative arm. This is
enough to give poses and wrenches that move together with the joints.
"""

import math

# link after each joint (m)
LINKS = (0.34, 0.0, 0.40, 0.0, 0.40, 0.0, 0.126)
AXES = "zyzyzyz"
TOOL_LENGTH = 0.10  # flange to TCP, along the flange z axis


def flange_pose(q, base_p, base_q):
    """Flange pose of the arm with joint positions q[0:7] on a base pose.

    Returns (position, quaternion) as tuples; cheap enough to run several
    times per sample at 1 kHz.
    """
    px, py, pz = base_p
    w, x, y, z = base_q
    sin, cos = math.sin, math.cos
    for i in range(7):
        h = 0.5 * q[i]
        c = cos(h)
        s = sin(h)
        if AXES[i] == "z":
            w, x, y, z = w * c - z * s, x * c + y * s, y * c - x * s, z * c + w * s
        else:
            w, x, y, z = w * c - y * s, x * c - z * s, y * c + w * s, z * c + x * s
        length = LINKS[i]
        if length:
            px += length * 2.0 * (x * z + w * y)
            py += length * 2.0 * (y * z - w * x)
            pz += length * (1.0 - 2.0 * (x * x + y * y))
    return (px, py, pz), (w, x, y, z)


def tcp_from_flange(p, q):
    w, x, y, z = q
    d = TOOL_LENGTH
    return (
        p[0] + d * 2.0 * (x * z + w * y),
        p[1] + d * 2.0 * (y * z - w * x),
        p[2] + d * (1.0 - 2.0 * (x * x + y * y)),
    )


def manipulability(q):
    """Six manipulability measures of an arm, packed as the controller does.

    The first three are translational measures (0..0.3), the last three
    rotational ones (0..0.9). They shrink as the elbow stretches (q[3] -> 0)
    or the wrist lines up (q[5] -> 0), the arm's singular configurations.
    """
    elbow = abs(math.sin(q[3]))
    wrist = abs(math.sin(q[5]))
    shoulder = 0.7 + 0.3 * abs(math.cos(q[1]))
    a = 0.3 * elbow * (0.45 + 0.55 * wrist) * shoulder
    b = 0.9 * (0.35 + 0.65 * elbow) * (0.5 + 0.5 * wrist)
    return (0.8 * a, 0.9 * a, a, 0.7 * b, 0.85 * b, b)
