"""ROS 2 messages of a fixed shape in CDR (little endian), as struct formats.

A recording's messages never change shape: the frame names, joint names and
array lengths are fixed when it starts. So a message type of a topic is one
struct format with its constant parts (strings, lengths, padding) in it: one
struct.pack a message, where the general encoder of mcap-ros2-support takes
about a hundred times as long. The entries are kept too, so that a whole
sample's messages can be joined into one format (mcap_writer.SampleFormat).
"""

import struct

ENCAPSULATION = b"\x00\x01\x00\x00"  # CDR, little endian

_KINDS = {"f64": ("d", 8), "i32": ("i", 4), "u32": ("I", 4), "u64": ("Q", 8), "bool": ("?", 1)}


class Shape:
    """A message laid out as constants and runs of values; `pack(values)` and `unpack(data)` are inverses.

    entries: ("c", format, bytes) a constant, ("x", format, None) padding, ("v", format, n) n values."""

    def __init__(self):
        self.entries = []
        self._offset = 0  # CDR aligns from the start of the message, after the encapsulation
        self.width = 0    # values a message carries

    def _align(self, n):
        pad = -self._offset % n
        if pad:
            self.entries.append(("x", "%dx" % pad, None))
            self._offset += pad

    def values(self, kind, n):
        code, size = _KINDS[kind]
        if n:
            self._align(size)
            self.entries.append(("v", "%d%s" % (n, code), n))
            self._offset += n * size
            self.width += n
        return self

    def _const(self, raw, align=1):
        self._align(align)
        self.entries.append(("c", "%ds" % len(raw), raw))
        self._offset += len(raw)

    def string(self, text):
        raw = text.encode() + b"\x00"
        self._const(struct.pack("<I", len(raw)) + raw, 4)
        return self

    def strings(self, texts):
        self._const(struct.pack("<I", len(texts)), 4)
        for t in texts:
            self.string(t)
        return self

    def array(self, kind, n):
        """A sequence (length first) of n values."""
        self._const(struct.pack("<I", n), 4)
        return self.values(kind, n)

    def stamped(self, frame_id):
        """std_msgs/Header: the stamp's two values, then the frame."""
        return self.values("i32", 1).values("u32", 1).string(frame_id)

    def done(self):
        self._struct = struct.Struct("<" + "".join(f for _, f, _ in self.entries))
        self.size = len(ENCAPSULATION) + self._struct.size
        # pack: the constants go between runs of values
        self._runs = []
        run = 0
        positions = []  # of the values among the struct's items
        item = 0
        for kind, fmt, what in self.entries:
            if kind == "v":
                run += what
                positions += range(item, item + what)
                item += what
            elif kind == "c":
                self._runs.append((run, what))
                run = 0
                item += 1
        self._positions = positions
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
        return [items[i] for i in self._positions]
