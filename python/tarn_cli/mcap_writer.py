"""Writing recorded samples to MCAP with ROS 2 message schemas (mcap_topics says which topics hold what).

Each message is stamped with the robot's time; its log time is the arrival
time, on the wall clock: received_at (monotonic) plus the offset between the
two clocks taken when the recording started (metadata "received_at_offset_ns").
"""

import itertools
import json
import operator
import struct

from . import cdr, mcap_topics
from .columns import STATUS
from .errors import FAILED, CliError, missing_package
from .writers import each_row


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


class SampleFormat:
    """All messages of one sample of a stream, with their MCAP record heads, as one struct format.

    pack(seq, t, stamp, head, status, values) gives the records as one bytes
    object: the messages of a sample share their times, sequence number and
    stamp, and their shapes are fixed, so every record lies at a known place.
    A sample costs one itemgetter and one struct.pack instead of some fifty
    calls per message. pack_batch fills the same records of many samples at
    once from the same format (mcap_batch).
    """

    def __init__(self, messages, status_width, value_width):
        """messages: [(channel id, Shape, sources)]; sources index the message's values (after the stamp)
        in [index, stamped] + status + values."""
        fmt, getters, consts = ["<"], [], []
        self.places = []  # (channel, offset of its record, size of its data)
        fixed = 5  # seq, t, t, sec, nsec; then the sources
        offset = 0
        for channel, shape, sources in messages:
            head = struct.pack("<BQH", 0x05, 22 + shape.size, channel)
            fmt.append("%dsIQQ4s" % len(head))
            getters += [("c", head), 0, 1, 2, ("c", cdr.ENCAPSULATION)]
            values = iter([3, 4] + [fixed + s for s in sources])
            for kind, part, what in shape.entries:
                fmt.append(part)
                if kind == "c":
                    getters.append(("c", what))
                elif kind == "v":
                    getters += [next(values) for _ in range(what)]
            self.places.append((channel, offset, shape.size))
            offset += 31 + shape.size
        self.struct = struct.Struct("".join(fmt))
        base = fixed + 2 + status_width + value_width
        self.consts = []
        picks = []
        for g in getters:
            if isinstance(g, tuple):
                picks.append(base + len(self.consts))
                self.consts.append(g[1])
            else:
                picks.append(g)
        self.take = operator.itemgetter(*picks)
        self._picks, self._base, self._plan = picks, base, None

    def pack(self, seq, t, stamp, index, stamped, status, values):
        return self.struct.pack(*self.take([seq, t, t, stamp[0], stamp[1], index, stamped]
                                           + status + values + self.consts))

    def pack_batch(self, seq, t, stamp, index, stamped, status, values):
        """(n, size) uint8: the records of n samples; each argument an array of n (stamp (n, 2), status
        (n, k), values (n, width))."""
        from . import mcap_batch

        if self._plan is None:
            self._plan = mcap_batch.Plan(self.struct, self._picks, self._base, self.consts)
        return self._plan.pack(seq, t, stamp, index, stamped, status, values)


def _index_type():
    """A chunk's message index that writes its entries with one struct.pack (mcap's writes two calls each)."""
    from mcap.records import MessageIndex
    from mcap.opcode import Opcode

    class Index(MessageIndex):
        def write(self, stream):
            stream.start_record(Opcode.MESSAGE_INDEX)
            stream.write2(self.channel_id)
            stream.write4(len(self.records) * 16)
            stream.write(struct.pack("<%dQ" % (2 * len(self.records)), *itertools.chain.from_iterable(self.records)))
            stream.finish_record()

    return Index


class _Records:
    """Adds a sample's records to the open chunk at once.

    mcap's Writer.add_message builds a record object and writes it field by
    field: some 25 µs a message, and a 1 kHz dual-arm robot gives over 40
    messages a millisecond. So the records come joined (SampleFormat), and the
    chunk's message index and the file's statistics are updated as
    add_message would. That needs the Writer's chunk builder, which mcap 1.x
    keeps private: without it (another release) add_message does the work.
    """

    def __init__(self, writer):
        self.writer = writer
        self.chunks = getattr(writer, "_Writer__chunk_builder", None)
        self.stats = getattr(writer, "_Writer__statistics", None)
        self.finalize = getattr(writer, "_Writer__maybe_finalize_chunk", None)
        self.chunk_size = getattr(writer, "_Writer__chunk_size", None)
        self.fast = (None not in (self.chunks, self.stats, self.finalize, self.chunk_size)
                     and hasattr(self.chunks, "record_writer"))
        self.index_type = _index_type() if self.fast else None

    def add(self, t, seq, blob, places):
        """blob: records of [(channel, offset in blob, data size)], all logged and published at t."""
        if not self.fast:
            for channel, offset, size in places:
                self.writer.add_message(channel, t, blob[offset + 31:offset + 31 + size], t, seq)
            return
        chunks, stats = self.chunks, self.stats
        start = chunks.record_writer.count
        indices, counts = chunks.message_indices, stats.channel_message_counts
        for channel, offset, _ in places:
            index = indices.get(channel)
            if not index:
                index = indices[channel] = self.index_type(channel_id=channel, records=[])
            index.records.append((t, start + offset))
            counts[channel] += 1
        n = len(places)
        if chunks.num_messages == 0 or t < chunks.message_start_time:
            chunks.message_start_time = t
        chunks.message_end_time = max(chunks.message_end_time, t)
        chunks.num_messages += n
        if stats.message_count == 0 or t < stats.message_start_time:
            stats.message_start_time = t
        stats.message_end_time = max(stats.message_end_time, t)
        stats.message_count += n
        chunks.record_writer.write(blob)
        self.finalize()

    def add_batch(self, ts, seqs, blobs, places):
        """blobs: (n, size) records of n samples, sample i logged at ts[i]; chunks end where add would
        end them (after the sample that takes a chunk past its size)."""
        n, size = blobs.shape
        if not self.fast:
            for i in range(n):
                self.add(ts[i], seqs[i], blobs[i].tobytes(), places)
            return
        chunks, stats = self.chunks, self.stats
        done = 0
        while done < n:
            room = self.chunk_size - chunks.record_writer.count
            k = min(n - done, max(0, room) // size + 1)
            part = ts[done:done + k]
            start = chunks.record_writer.count
            indices, counts = chunks.message_indices, stats.channel_message_counts
            for channel, offset, _ in places:
                index = indices.get(channel)
                if not index:
                    index = indices[channel] = self.index_type(channel_id=channel, records=[])
                index.records.extend(zip(part, range(start + offset, start + offset + k * size, size)))
                counts[channel] += k
            low, high, m = min(part), max(part), k * len(places)
            if chunks.num_messages == 0 or low < chunks.message_start_time:
                chunks.message_start_time = low
            chunks.message_end_time = max(chunks.message_end_time, high)
            chunks.num_messages += m
            if stats.message_count == 0 or low < stats.message_start_time:
                stats.message_start_time = low
            stats.message_end_time = max(stats.message_end_time, high)
            stats.message_count += m
            chunks.record_writer.write(blobs[done:done + k].tobytes())
            self.finalize()
            done += k


def ros_time(stamp):
    """A stamp whose nanoseconds lie outside 0 .. 999999999 as ROS Time takes it: the same instant, the
    seconds held within int32. The robot's pair is two int32, so bad data can hold anything."""
    sec, nsec = divmod(stamp[0] * 1_000_000_000 + stamp[1], 1_000_000_000)
    return min(max(sec, -2**31), 2**31 - 1), nsec


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
        self.records = _Records(self.writer)
        self.formats = {}
        for stream, topics, status in (("basic", self.basic_topics, self.status), ("extra", self.extra_topics, None)):
            width = layout.state_width() if stream == "basic" else layout.action_width()
            head = self.sample[stream]
            messages = [(self.channels[head.name], head.shape, [0, 1])]
            if status is not None:
                messages.append((self.channels[status.name], status.shape, [2 + i for i in range(len(STATUS))]))
            first = 2 + (len(STATUS) if status is not None else 0)
            messages += [(channel, t.shape, [first + p for p in t.positions]) for channel, t in topics]
            self.formats[stream] = SampleFormat(messages, first - 2, width)
        self.rows = 0

    def _write(self, stream, topics, sample, stamp, values, exact, status=None):
        t = round(sample.received_at * 1e9) + self.offset
        seq = sample.index & 0xFFFFFFFF
        if stamp is not None and not 0 <= stamp[1] < 1_000_000_000:
            stamp = ros_time(stamp)
        if exact and stamp is not None:
            form = self.formats[stream]
            blob = form.pack(seq, t, stamp, sample.index, True, status or [], values)
            self.records.add(t, seq, blob, form.places)
            self.rows += 1
            return
        # a sample without some groups: messages for those it has
        sec, nsec = (0, 0) if stamp is None else stamp
        head = self.sample[stream]
        out = [(self.channels[head.name], head.shape.pack([sec, nsec, sample.index, stamp is not None]))]
        if status is not None:
            out.append((self.channels[self.status.name], self.status.shape.pack([sec, nsec] + list(status))))
        for channel, topic in topics:
            vals = topic.take(values)
            if not exact and None in vals:
                continue  # the sample lacks this group: no message
            out.append((channel, topic.shape.pack((sec, nsec) + vals)))
        for channel, data in out:
            self.writer.add_message(channel, t, data, t, seq)
        self.rows += 1

    def basic(self, sample, stamp, values, exact, status):
        self._write("basic", self.basic_topics, sample, stamp, values, exact, status)

    def extra(self, sample, stamp, values, exact):
        self._write("extra", self.extra_topics, sample, stamp, values, exact)

    def basic_batch(self, block):
        self._write_batch("basic", self.basic_topics, block)

    def extra_batch(self, block):
        self._write_batch("extra", self.extra_topics, block)

    def _write_batch(self, stream, topics, block):
        if not block.exact:
            for sample, stamp, values, status in each_row(block):
                self._write(stream, topics, sample, stamp, values, False, status)
            return
        from .mcap_batch import sample_heads

        t, seq, stamp, stamped, status = sample_heads(block, self.offset)
        form = self.formats[stream]
        blobs = form.pack_batch(seq, t, stamp, block.index, stamped, status, block.values)
        self.records.add_batch(t.tolist(), seq.tolist(), blobs, form.places)
        self.rows += len(block)

    def close(self):
        try:
            self.writer.finish()
            self.file.close()
        except OSError as e:
            raise CliError("cannot finish %s: %s" % (self.path, e.strerror or e), FAILED) from None
