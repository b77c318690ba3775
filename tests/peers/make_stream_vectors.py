"""Writes stream-message test vectors with the zenoh.ext serializer.

Usage: make_stream_vectors.py > tests/vectors/stream_vectors.txt
Values follow simple rules the C++ tests recompute: joint i of field k holds
k + i / 8, contact j holds (j, j + 0.5, j + 0.25) and cartesian entry n holds
n + m / 16 in element m (poses keep a unit quaternion in 3..6).
"""

from zenoh.ext import Float32, Int16, Int32, UInt16, UInt32, z_serialize

JOINT_FIELDS = 9


def floats(values):
    return [Float32(v) for v in values]


def joint_data(dof, contacts):
    fields = [floats(k + i / 8 for i in range(dof)) for k in range(JOINT_FIELDS)]
    positions = [floats((j, j + 0.5, j + 0.25)) for j in range(contacts)]
    forces = [floats((-j, j * 2.0, 1.0)) for j in range(contacts)]
    return tuple(fields) + (positions, forces)


def pose(n):
    return floats([n, n + 1 / 16, n + 2 / 16, 1.0, 0.0, 0.0, 0.0])


def six(n, offset):
    return floats(n + (offset + m) / 16 for m in range(6))


def cartesian(n, pose_len=7, six_len=6):
    p = pose(n)[:pose_len] + [Float32(0.0)] * max(0, pose_len - 7)
    s = lambda off: (six(n, off) + [Float32(0.0)])[:six_len]
    return (p, p, s(0), s(1), s(2), s(3), s(4))


def basic(groups, dof, contacts, safety_len=8, digital_len=20, cart=None, trailing=False):
    cart = cart if cart is not None else [cartesian(n) for n in range(len(groups))]
    msg = (
        UInt16(7),
        Int16(-1),
        True,
        False,
        [i % 2 == 0 for i in range(safety_len)],
        [i % 3 == 0 for i in range(digital_len)],
        [i % 5 == 0 for i in range(20)],
        [UInt16(g) for g in groups],
        joint_data(dof, contacts),
        cart,
        Int32(1700000000),
        UInt32(123456789),
    )
    data = z_serialize(msg).to_bytes()
    return data + b"\x00" if trailing else data


def extra(groups, dof, pose_len=7, trailing=False):
    cart = [((pose(n) + [Float32(0.0)])[:pose_len], six(n, 0), six(n, 1)) for n in range(len(groups))]
    msg = (
        [UInt16(g) for g in groups],
        floats(0.5 * i for i in range(dof)),
        floats(-0.25 * i for i in range(dof)),
        floats(i + 100.0 for i in range(dof)),
        cart,
    )
    data = z_serialize(msg).to_bytes()
    return data + b"\x00" if trailing else data


DUAL = [2, 3, 4, 5]
VECTORS = {
    "basic_single": basic([3], 7, 2),
    "basic_dual": basic(DUAL, 15, 3),
    "basic_empty": basic([], 0, 0),
    "extra_single": extra([3], 7),
    "extra_dual": extra(DUAL, 15),
    "extra_empty": extra([], 0),
    "basic_safety_7": basic([3], 7, 0, safety_len=7),
    "basic_safety_9": basic([3], 7, 0, safety_len=9),
    "basic_digital_19": basic([3], 7, 0, digital_len=19),
    "basic_pose_6": basic([3], 7, 0, cart=[cartesian(0, pose_len=6)]),
    "basic_six_7": basic([3], 7, 0, cart=[cartesian(0, six_len=7)]),
    "basic_trailing": basic([3], 7, 1, trailing=True),
    "extra_pose_8": extra([3], 7, pose_len=8),
    "extra_trailing": extra([3], 7, trailing=True),
}

for name, data in VECTORS.items():
    print(name, data.hex())
