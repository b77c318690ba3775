"""The records of many samples at once, from a SampleFormat's struct: NumPy fills what struct.pack would.

A sample's records have fixed places for everything, so a batch is a copy of
the constant bytes a sample, then one gather and one scatter for each kind
of value (8-byte floats, 8-, 4- and 1-byte integers).
"""

import re
import struct

import numpy as np


def _items(fmt):
    """(offset, code, size) of every argument of a little-endian struct format, in order."""
    items, offset = [], 0
    for count, code in re.findall(r"(\d*)([a-zA-Z?])", fmt.lstrip("<")):
        count = int(count) if count else 1
        if code in "sx":
            if code == "s":
                items.append((offset, code, count))
            offset += count
            continue
        size = struct.calcsize("<" + code)
        items += [(offset + i * size, code, size) for i in range(count)]
        offset += count * size
    return items, offset


class Plan:
    """picks: the source of each struct argument among [seq, t, t, sec, nsec, index, stamped] + status +
    values; from `base` on, consts[pick - base]."""

    def __init__(self, packer, picks, base, consts):
        items, self.size = _items(packer.format)
        self.template = np.frombuffer(packer.pack(*[consts[p - base] if p >= base else 0 for p in picks]),
                                      dtype=np.uint8)
        plan = {}  # kind -> ([sources], [byte positions])
        for (at, code, size), source in zip(items, picks):
            if source >= base:
                continue  # a constant: in the template
            sources, places = plan.setdefault("d" if code == "d" else size, ([], []))
            sources.append(source)
            places += range(at, at + size)
        self.plan = {k: (np.array(s), np.array(p)) for k, (s, p) in plan.items()}

    def pack(self, seq, t, stamp, index, stamped, status, values):
        n = len(seq)
        ints = np.column_stack([seq, t, t, stamp[:, 0], stamp[:, 1], index.astype(np.int64), stamped,
                                status.reshape(n, -1)]).astype(np.int64)
        out = np.empty((n, self.size), dtype=np.uint8)
        out[:] = self.template
        fixed = ints.shape[1]
        for kind, (sources, places) in self.plan.items():
            if kind == "d":
                part = np.ascontiguousarray(values[:, sources - fixed], dtype="<f8")
            else:  # two's complement: a negative int32 has the bytes of its uint32
                part = np.ascontiguousarray(ints[:, sources].astype({8: "<i8", 4: "<u4", 1: "u1"}[kind]))
            out[:, places] = part.view(np.uint8).reshape(n, -1)
        return out


def ros_times(stamps):
    """mcap_writer.ros_time of each (sec, nsec) row of an int64 array."""
    if ((stamps[:, 1] >= 0) & (stamps[:, 1] < 1_000_000_000)).all():
        return stamps
    sec, nsec = np.divmod(stamps[:, 0] * 1_000_000_000 + stamps[:, 1], 1_000_000_000)
    return np.column_stack([np.clip(sec, -2**31, 2**31 - 1), nsec])


def sample_heads(block, offset):
    """(log times, sequence numbers, stamps, stamped, status) of a block that fits its layout."""
    n = len(block)
    t = np.rint(block.received_at * 1e9).astype(np.int64) + offset
    seq = (block.index & np.uint64(0xFFFFFFFF)).astype(np.int64)
    status = block.status if block.status is not None else np.empty((n, 0), dtype=np.int64)
    return t, seq, ros_times(block.stamp), np.ones(n, dtype=np.int64), status
