"""Reading recordings back: one reader per format, each giving the columns, what the file is, and rows.

A row is a list in the recording's column order: stream, index, stamp (None
where the sample had none), received_at, the status (None on extra rows) and
the groups' values (None where the row leaves them empty).
"""

import csv
import json
import struct

from . import mcap_topics, recmeta
from .columns import COMMON, STATUS, Layout
from .errors import FAILED, CliError
from .writers import is_mcap, is_parquet, load_pyarrow

STAMPS = ("stamp_sec", "stamp_nanosec")


def not_tarn(path, why):
    return CliError("%s is not a tarn recording (%s)" % (path, why), FAILED)


def _stamp(text):
    if not text:
        return None
    try:
        return int(text)
    except ValueError:
        return text  # an edited file: kept as it is, plot falls back to the arrival time


def _parser(column):
    if column == "stream":
        return str
    if column == "index":
        return int
    if column in STAMPS:
        return _stamp
    if column == "received_at":
        return float
    if column in STATUS[:2]:
        return lambda text: int(text) if text else None
    if column in STATUS:
        return lambda text: bool(int(text)) if text else None
    return lambda text: float(text) if text else None


class CsvRecording:
    def __init__(self, path):
        self.path = path
        try:
            with open(path, newline="") as f:
                self.columns = next(csv.reader(f), None)
        except OSError as e:
            raise CliError("cannot read %s: %s" % (path, e.strerror or e), FAILED) from None
        if not self.columns or self.columns[:1] != ["stream"]:
            raise not_tarn(path, "no stream column")
        try:
            with open(recmeta.side_path(path), encoding="utf-8") as f:
                self.meta = json.load(f)
        except (OSError, ValueError):
            self.meta = {}  # made before files said what they are, or by hand

    def rows(self, names=None, stream=None):
        """Rows of the named columns (all by default), of one stream or both."""
        names = names or self.columns
        try:
            at = [self.columns.index(n) for n in names]
            parse = [_parser(n) for n in names]
            with open(self.path, newline="") as f:
                reader = csv.reader(f)
                next(reader)
                for row in reader:
                    if not row or (stream is not None and row[0] != stream):
                        continue
                    yield [p(row[i]) for p, i in zip(parse, at)]
        except OSError as e:
            raise CliError("cannot read %s: %s" % (self.path, e.strerror or e), FAILED) from None
        except (ValueError, IndexError) as e:
            raise not_tarn(self.path, e) from None


class ParquetRecording:
    def __init__(self, path):
        self.pa = load_pyarrow()
        self.path = path
        try:
            schema = self.pa.parquet.read_schema(path)
        except OSError as e:
            raise CliError("cannot read %s: %s" % (path, e), FAILED) from None
        except self.pa.ArrowException as e:
            raise CliError("%s is not a readable Parquet file (%s)" % (path, e), FAILED) from None
        self.columns = schema.names
        if "stream" not in self.columns:
            raise not_tarn(path, "no stream column")
        self.meta = {k.decode(): v.decode() for k, v in (schema.metadata or {}).items()}

    def rows(self, names=None, stream=None):
        names = list(names or self.columns)
        pa = self.pa
        try:
            table = pa.parquet.read_table(self.path, columns=names + ([] if "stream" in names else ["stream"]))
        except OSError as e:
            raise CliError("cannot read %s: %s" % (self.path, e), FAILED) from None
        except pa.ArrowException as e:
            raise CliError("%s is not a readable Parquet file (%s)" % (self.path, e), FAILED) from None
        if stream is not None:
            import pyarrow.compute as pc

            table = table.filter(pc.equal(table["stream"], stream))
        yield from zip(*[table[n].to_pylist() for n in names]) if table.num_rows else ()


class McapRecording:
    def __init__(self, path):
        from .mcap_writer import load_mcap

        mcap = load_mcap()
        import mcap.exceptions
        import mcap.reader

        self.mcap = mcap
        self.path = path
        self.meta = {}
        try:
            with open(path, "rb") as f:
                for record in mcap.reader.make_reader(f).iter_metadata():
                    if record.name == "recording":
                        self.meta.update(record.metadata)
                    elif record.name == "units":
                        self.meta["units"] = json.dumps(dict(record.metadata), ensure_ascii=False)
        except OSError as e:
            raise CliError("cannot read %s: %s" % (path, e.strerror or e), FAILED) from None
        except (mcap.exceptions.McapError, struct.error, ValueError) as e:
            raise CliError("%s is not a readable MCAP file (%s)" % (path, e), FAILED) from None
        self.columns = recmeta.parsed(self.meta, "columns")
        layout = Layout.from_columns(self.columns) if isinstance(self.columns, list) else None
        if layout is None:
            raise not_tarn(path, "no recording metadata naming its columns")
        self.layout = layout
        self.offset = int(self.meta.get("received_at_offset_ns", 0))

    def _topics(self):
        """{topic: (topic, first position of its values in a row)}."""
        basic, extra = mcap_topics.topics(self.layout)
        first = {"basic": len(COMMON) + len(STATUS)}
        first["extra"] = first["basic"] + self.layout.state_width()
        out = {t.name: (t, first[t.stream]) for t in basic + extra}
        out[mcap_topics.status_topic().name] = (mcap_topics.status_topic(), len(COMMON))
        return out

    def _full_rows(self):
        topics = self._topics()
        samples = {mcap_topics.sample_topic(s).name: (s, mcap_topics.sample_topic(s)) for s in ("basic", "extra")}
        width = len(self.columns)
        row, seq = None, None
        with open(self.path, "rb") as f:
            reader = self.mcap.reader.make_reader(f)
            for _, channel, message in reader.iter_messages(log_time_order=False):
                if channel.topic in samples:
                    if row is not None:
                        yield row
                    stream, topic = samples[channel.topic]
                    sec, nsec, index, stamped = topic.shape.unpack(message.data)
                    row = [stream, index, sec if stamped else None, nsec if stamped else None,
                           (message.log_time - self.offset) / 1e9] + [None] * (width - len(COMMON))
                    seq = message.sequence
                    continue
                found = topics.get(channel.topic)
                if found is None or row is None or message.sequence != seq:
                    continue  # not ours, or not of the sample before it
                topic, first = found
                values = topic.shape.unpack(message.data)[2:]
                for p, v in zip(topic.positions, values):
                    row[first + p] = v
        if row is not None:
            yield row

    def rows(self, names=None, stream=None):
        pick = [self.columns.index(n) for n in names] if names else None
        try:
            for row in self._full_rows():
                if stream is None or row[0] == stream:
                    yield [row[i] for i in pick] if pick else row
        except OSError as e:
            raise CliError("cannot read %s: %s" % (self.path, e.strerror or e), FAILED) from None
        except (self.mcap.exceptions.McapError, struct.error, ValueError) as e:
            raise CliError("%s is not a readable MCAP file (%s)" % (self.path, e), FAILED) from None


def open_recording(path):
    path = str(path)
    return (ParquetRecording if is_parquet(path) else McapRecording if is_mcap(path) else CsvRecording)(path)
