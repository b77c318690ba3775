"""Writing recorded samples to MCAP with ROS 2 message schemas (mcap_topics says which topics hold what).

Each message is stamped with the robot's time; its log time is the arrival
time, on the wall clock: received_at (monotonic) plus the offset between the
two clocks taken when the recording started (metadata "received_at_offset_ns").
"""

import json

from . import mcap_topics
from .errors import FAILED, CliError, missing_package


def load_mcap():
    try:
        import mcap.writer
    except ImportError:
        raise missing_package("reading or writing MCAP", "mcap", "mcap") from None
    return mcap


def split_meta(meta):
    """The metadata records of a file: "recording" (what it is) and "units" (column: unit)."""
    recording = {k: v for k, v in meta.items() if k != "units"}
    return {"recording": recording, "units": json.loads(meta.get("units", "{}"))}


class McapWriter:
    kind = "MCAP"

    def __init__(self, path, layout, meta):
        mcap = load_mcap()
        self.path = path
        try:
            self.file = open(path, "wb")
        except OSError as e:
            raise CliError("cannot write %s: %s" % (path, e.strerror or e), FAILED) from None
        self.writer = mcap.writer.Writer(self.file, compression=mcap.writer.CompressionType.ZSTD)
        self.writer.start(profile="ros2", library="tarn")
        schemas = {}
        for name, text in mcap_topics.SCHEMAS.items():
            schemas[name] = self.writer.register_schema(name, "ros2msg", text.encode())
        basic, extra = mcap_topics.topics(layout)
        self.sample = {s: mcap_topics.sample_topic(s) for s in ("basic", "extra")}
        self.status = mcap_topics.status_topic()
        self.channels = {}
        for topic in [self.sample["basic"], self.status] + basic + [self.sample["extra"]] + extra:
            self.channels[topic.name] = self.writer.register_channel(topic.name, "cdr", schemas[topic.schema])
        self.basic_topics = [(self.channels[t.name], t) for t in basic]
        self.extra_topics = [(self.channels[t.name], t) for t in extra]
        for name, data in split_meta(meta).items():
            self.writer.add_metadata(name, data)
        self.offset = int(meta.get("received_at_offset_ns", 0))
        self.rows = 0

    def _write(self, stream, topics, sample, stamp, values, exact, status=None):
        sec, nsec = (0, 0) if stamp is None else stamp
        t = round(sample.received_at * 1e9) + self.offset
        seq = sample.index & 0xFFFFFFFF
        add = self.writer.add_message
        head = self.sample[stream]
        add(self.channels[head.name], t, head.shape.pack([sec, nsec, sample.index, stamp is not None]), t, seq)
        if status is not None:
            add(self.channels[self.status.name], t, self.status.shape.pack([sec, nsec] + list(status)), t, seq)
        for channel, topic in topics:
            vals = topic.take(values)
            if not exact and None in vals:
                continue  # the sample lacks this group: no message
            add(channel, t, topic.shape.pack((sec, nsec) + vals), t, seq)
        self.rows += 1

    def basic(self, sample, stamp, values, exact, status):
        self._write("basic", self.basic_topics, sample, stamp, values, exact, status)

    def extra(self, sample, stamp, values, exact):
        self._write("extra", self.extra_topics, sample, stamp, values, exact)

    def close(self):
        try:
            self.writer.finish()
            self.file.close()
        except OSError as e:
            raise CliError("cannot finish %s: %s" % (self.path, e.strerror or e), FAILED) from None
