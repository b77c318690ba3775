"""ROS 2 messages of a fixed shape in CDR (little endian), packed and unpacked with one struct each.

A recording's messages never change shape: the frame names, joint names and
array lengths are fixed when it starts. So every message type of a topic is
one struct format with the constant parts (strings, lengths) in it, and a
message costs one struct.pack: the general encoder of mcap-ros2-support
takes about a hundred times as long, too slow for dozens of messages a
millisecond.
"""

import struct

ENCAPSULATION = b"\x00\x01\x00\x00"  # CDR, little endian

_KINDS = {"f64": ("d", 8), "i32": ("i", 4), "u32": ("I", 4), "u64": ("Q", 8), "bool": ("?", 1)}


class Shape:
    """A message laid out as constants and runs of values; `pack(values)` and `unpack(data)` are inverses."""

    def __init__(self):
        self._fmt = ["<"]
        self._offset = 0
        self._consts = []      # (position among the struct's items, bytes)
        self._items = 0
        self.width = 0         # values a message carries

    def _align(self, n):
        pad = -self._offset % n
        if pad:
            self._fmt.append("%dx" % pad)
            self._offset += pad

    def values(self, kind, n):
        code, size = _KINDS[kind]
        if n:
            self._align(size)
            self._fmt.append("%d%s" % (n, code))
            self._offset += n * size
            self._items += n
            self.width += n
        return self

    def const(self, kind, value):
        code, size = _KINDS[kind]
        self._align(size)
        self._fmt.append("%ds" % size)
        self._consts.append((self._items, struct.pack("<" + code, value)))
        self._offset += size
        self._items += 1
        return self

    def string(self, text):
        raw = text.encode() + b"\x00"
        self.const("u32", len(raw))
        self._fmt.append("%ds" % len(raw))
        self._consts.append((self._items, raw))
        self._offset += len(raw)
        self._items += 1
        return self

    def strings(self, texts):
        self.const("u32", len(texts))
        for t in texts:
            self.string(t)
        return self

    def array(self, kind, n):
        """A sequence (length first) of n values."""
        self.const("u32", n)
        return self.values(kind, n)

    def stamped(self, frame_id):
        """std_msgs/Header: the stamp's two values, then the frame."""
        return self.values("i32", 1).values("u32", 1).string(frame_id)

    def done(self):
        self._struct = struct.Struct("".join(self._fmt))
        # the items as a list with the constants in place; pack fills the gaps between them
        self._runs = []
        start = 0
        for pos, raw in self._consts:
            self._runs.append((pos - start, raw))
            start = pos + 1
        self._tail = self._items - start
        consts = {p for p, _ in self._consts}
        self._value_positions = [i for i in range(self._items) if i not in consts]
        return self

    def pack(self, values):
        """ENCAPSULATION + the message; values in the order they were declared (stamp first)."""
        args = []
        i = 0
        for n, raw in self._runs:
            args += values[i:i + n]
            args.append(raw)
            i += n
        args += values[i:]
        return ENCAPSULATION + self._struct.pack(*args)

    def unpack(self, data):
        """The values of one message; struct.error when it has another shape."""
        if data[:4] != ENCAPSULATION:
            raise struct.error("not little-endian CDR")
        items = self._struct.unpack(data[4:])
        return [items[i] for i in self._value_positions]
