"""Small rotation helpers on plain tuples; quaternions are (w, x, y, z)."""

import math


def mul(a, b):
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (
        aw * bw - ax * bx - ay * by - az * bz,
        aw * bx + ax * bw + ay * bz - az * by,
        aw * by - ax * bz + ay * bw + az * bx,
        aw * bz + ax * by - ay * bx + az * bw,
    )


def conj(q):
    return (q[0], -q[1], -q[2], -q[3])


def rotate(q, v):
    """R(q) . v"""
    w, x, y, z = q
    vx, vy, vz = v
    return (
        (1 - 2 * (y * y + z * z)) * vx + 2 * (x * y - w * z) * vy + 2 * (x * z + w * y) * vz,
        2 * (x * y + w * z) * vx + (1 - 2 * (x * x + z * z)) * vy + 2 * (y * z - w * x) * vz,
        2 * (x * z - w * y) * vx + 2 * (y * z + w * x) * vy + (1 - 2 * (x * x + y * y)) * vz,
    )


def rotate_inv(q, v):
    """R(q)^T . v"""
    return rotate(conj(q), v)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def angular_velocity(q_prev, q_now, dt):
    """World-frame angular velocity that turns q_prev into q_now within dt."""
    d = mul(q_now, conj(q_prev))
    if d[0] < 0.0:  # take the short way round
        d = (-d[0], -d[1], -d[2], -d[3])
    s = math.sqrt(d[1] * d[1] + d[2] * d[2] + d[3] * d[3])
    if s < 1e-12 or dt <= 0.0:
        return (0.0, 0.0, 0.0)
    angle = 2.0 * math.atan2(s, d[0])
    k = angle / (s * dt)
    return (d[1] * k, d[2] * k, d[3] * k)
