"""Wire layouts of the robot's messages, for zenoh.ext (de)serialization.

Every sequence and every fixed-size array carries a length prefix; a record
is its fields concatenated (a tuple). The type hints below are what
z_deserialize needs to read a message back; the strict decoders also check
what z_deserialize does not: the fixed array sizes and that no byte is left
over.
"""

import typing

import zenoh
from zenoh.ext import Float32, Int16, Int32, UInt16, UInt32, z_deserialize, z_serialize

F32s = list[Float32]

BASIC_JOINT_FIELDS = (
    "q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature",
    "contact_positions", "contact_forces",
)
BASIC_CARTESIAN_FIELDS = (
    "flange_pose", "tcp_pose", "tcp_twist", "tcp_wrench_local",
    "raw_tcp_wrench", "raw_tcp_wrench_local", "raw_ft_sensor",
)
BASIC_CARTESIAN_SIZES = (7, 7, 6, 6, 6, 6, 6)
BASIC_FIELDS = (
    "system_state", "safety_board_state", "estop_released", "enabling_device_on",
    "safety_inputs", "digital_inputs", "digital_outputs",
    "joint_groups", "joint_data", "cartesian_data", "stamp_sec", "stamp_nanosec",
)
BASIC_FIXED_SIZES = {"safety_inputs": 8, "digital_inputs": 20, "digital_outputs": 20}
EXTRA_CARTESIAN_FIELDS = ("tcp_pose_d", "tcp_twist_d", "tcp_wrench_d")
EXTRA_CARTESIAN_SIZES = (7, 6, 6)
EXTRA_FIELDS = ("joint_groups", "q_d", "dq_d", "tau_d", "cartesian_data")

BASIC_CARTESIAN_TYPE = tuple[F32s, F32s, F32s, F32s, F32s, F32s, F32s]
BASIC_JOINT_TYPE = tuple[F32s, F32s, F32s, F32s, F32s, F32s, F32s, F32s, F32s, list[F32s], list[F32s]]
BASIC_TYPE = tuple[
    UInt16, Int16, bool, bool, list[bool], list[bool], list[bool],
    list[UInt16], BASIC_JOINT_TYPE, list[BASIC_CARTESIAN_TYPE], Int32, UInt32,
]
EXTRA_CARTESIAN_TYPE = tuple[F32s, F32s, F32s]
EXTRA_TYPE = tuple[list[UInt16], F32s, F32s, F32s, list[EXTRA_CARTESIAN_TYPE]]

REQUEST_TYPE = tuple[UInt16, list[UInt16]]
REPLY_TYPE = tuple[UInt16, bool, list[UInt16], list[Int32], list[str], list[Float32], list[list[Float32]]]
REPLY_FIELDS = (
    "request_id", "success", "joint_groups", "int_container",
    "string_container", "float_container", "float2d_container",
)

ENCODING = zenoh.Encoding.ZENOH_SERIALIZED

_WIDTH = {bool: 1, UInt16: 2, Int16: 2, Int32: 4, UInt32: 4, Float32: 4}


class WireError(ValueError):
    """A payload that does not read as the expected message."""


def _varint_size(n):
    return max(1, (n.bit_length() + 6) // 7)


def encoded_size(tp, value):
    """Bytes that `value`, read as type `tp`, takes on the wire."""
    origin = typing.get_origin(tp)
    if origin is tuple:
        return sum(encoded_size(t, v) for t, v in zip(typing.get_args(tp), value))
    if origin is list:
        (inner,) = typing.get_args(tp)
        if inner in _WIDTH:
            return _varint_size(len(value)) + _WIDTH[inner] * len(value)
        return _varint_size(len(value)) + sum(encoded_size(inner, v) for v in value)
    if tp is str:
        n = len(value.encode("utf-8"))
        return _varint_size(n) + n
    return _WIDTH[tp]


def _as_zbytes(payload):
    if isinstance(payload, zenoh.ZBytes):
        return payload
    return zenoh.ZBytes(bytes(payload))


def strict_deserialize(tp, payload):
    """z_deserialize, but a payload with bytes left over is an error too."""
    zb = _as_zbytes(payload)
    try:
        value = z_deserialize(tp, zb)
    except Exception as e:  # zenoh.ZDeserializeError and friends
        raise WireError("cannot deserialize: %s" % e) from None
    size = len(zb.to_bytes())
    used = encoded_size(tp, value)
    if used != size:
        raise WireError("payload has %d bytes, message uses %d" % (size, used))
    return value


def _check_size(name, seq, n):
    if len(seq) != n:
        raise WireError("%s has %d elements, must have %d" % (name, len(seq), n))


def decode_basic(payload):
    """AllBasicStreamData as a dict of field name to value; strict."""
    v = strict_deserialize(BASIC_TYPE, payload)
    msg = dict(zip(BASIC_FIELDS, v))
    for name, n in BASIC_FIXED_SIZES.items():
        _check_size(name, msg[name], n)
    msg["joint_data"] = dict(zip(BASIC_JOINT_FIELDS, msg["joint_data"]))
    for name in ("contact_positions", "contact_forces"):
        for item in msg["joint_data"][name]:
            _check_size(name, item, 3)
    msg["cartesian_data"] = [_cartesian(c, BASIC_CARTESIAN_FIELDS, BASIC_CARTESIAN_SIZES) for c in msg["cartesian_data"]]
    return msg


def decode_extra(payload):
    """AllExtraStreamData as a dict of field name to value; strict."""
    v = strict_deserialize(EXTRA_TYPE, payload)
    msg = dict(zip(EXTRA_FIELDS, v))
    msg["cartesian_data"] = [_cartesian(c, EXTRA_CARTESIAN_FIELDS, EXTRA_CARTESIAN_SIZES) for c in msg["cartesian_data"]]
    return msg


def _cartesian(entry, fields, sizes):
    out = {}
    for name, n, value in zip(fields, sizes, entry):
        _check_size(name, value, n)
        out[name] = value
    return out


def encode_request(request_id, joint_groups=()):
    return z_serialize((UInt16(request_id), [UInt16(g) for g in joint_groups]))


def decode_request(payload):
    request_id, groups = strict_deserialize(REQUEST_TYPE, payload)
    return int(request_id), [int(g) for g in groups]


def reply_tuple(request_id, success, joint_groups=(), ints=(), strings=(), floats=(), float2d=()):
    return (
        UInt16(request_id & 0xFFFF),
        bool(success),
        [UInt16(g) for g in joint_groups],
        [Int32(i) for i in ints],
        [str(s) for s in strings],
        [Float32(f) for f in floats],
        [[Float32(f) for f in row] for row in float2d],
    )


def encode_reply(*args, **kwargs):
    return z_serialize(reply_tuple(*args, **kwargs))


def decode_reply(payload):
    return dict(zip(REPLY_FIELDS, strict_deserialize(REPLY_TYPE, payload)))
