"""Writes the request/reply test vectors with the zenoh.ext serializer.

Usage: make_rpc_vectors.py > tests/vectors/rpc_vectors.txt
Each line is a name and the hex bytes of one message.
"""

from zenoh.ext import Float32, Int32, UInt16, z_serialize

VECTORS = {
    "request_start_ids": (UInt16(10), [UInt16(3), UInt16(4)]),
    "request_probe": (UInt16(0), []),
    "reply_default": (UInt16(0), False, [], [], [], [], []),
    "reply_full": (
        UInt16(9),
        True,
        [UInt16(3), UInt16(4), UInt16(65535)],
        [Int32(-5), Int32(7), Int32(2147483647)],
        ["v2.1", "", "\u00fcn\u00efc\u00f6de"],
        [Float32(0.25), Float32(-1e30)],
        [[Float32(i / 4) for i in range(8)], [], [Float32(3.5)]],
    ),
    "reply_long_string": (UInt16(1), True, [], [], ["x" * 200], [], []),
}

for name, value in VECTORS.items():
    print(name, z_serialize(value).to_bytes().hex())
