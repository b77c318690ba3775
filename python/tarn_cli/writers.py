"""Writing recorded samples: CSV, Parquet (FILE.parquet, .pq) or MCAP (FILE.mcap, mcap_writer.py).

A recording writes whole batches (batches.Block): CSV formats all values of
a batch at once (csvtext), Parquet takes the arrays as they are. The
per-sample calls (basic, extra) serve tarn convert and batches that do not
fit the layout. Floats get 9 significant digits in CSV, which keeps every
single-precision value the robot sends exactly.
"""

import json
import os

from . import recmeta
from .columns import COMMON, STATUS
from .errors import FAILED, CliError, missing_package

PARQUET_SUFFIXES = (".parquet", ".pq")
MCAP_SUFFIXES = (".mcap",)


def is_parquet(path):
    return str(path).lower().endswith(PARQUET_SUFFIXES)


def is_mcap(path):
    return str(path).lower().endswith(MCAP_SUFFIXES)


def kind(path):
    return "Parquet" if is_parquet(path) else "MCAP" if is_mcap(path) else "CSV"


class Row:
    """What the per-sample writers read of a sample: its number and arrival time."""

    __slots__ = ("index", "received_at")

    def __init__(self, index, received_at):
        self.index, self.received_at = index, received_at


def each_row(block):
    """(sample, stamp, values, status) of every row of a batches.Block: for batches that do not fit
    the layout (rare), which the per-sample writers take with their holes."""
    status = block.status.tolist() if block.status is not None else None
    for r, (index, received_at) in enumerate(zip(block.index.tolist(), block.received_at.tolist())):
        yield Row(index, received_at), block.stamp_of(r), block.loose_values(r), status and status[r]


def _cells(n, spec):
    return ",".join([spec] * n)


class CsvWriter:
    kind = "CSV"

    def __init__(self, path, layout, meta):
        self.path = path
        try:
            with open(recmeta.side_path(path), "w", encoding="utf-8") as side:
                json.dump(meta, side, indent=1, ensure_ascii=False)
            self.file = open(path, "w", encoding="ascii", newline="\n", buffering=1 << 20)
        except OSError as e:
            raise CliError("cannot write %s: %s" % (path, e.strerror or e), FAILED) from None
        self.file.write(",".join(layout.columns) + "\n")
        sw, aw = layout.state_width(), layout.action_width()
        empty_states, empty_actions = "," * sw, "," * aw
        head = "%s,%d,%s,%s,%.6f"
        status = ",%d,%d,%d,%d," + _cells(40, "%d")
        # exact rows: one template each; an empty block of n columns is n commas after its predecessor
        self._basic = head + status + ("," + _cells(sw, "%.9g") if sw else "") + empty_actions + "\n"
        self._extra = head + "," * len(STATUS) + empty_states + ("," + _cells(aw, "%.9g") if aw else "") + "\n"
        self._empty_states, self._empty_actions = empty_states, empty_actions
        self._basic_tail = empty_actions + "\n"
        self._extra_middle = "," * len(STATUS) + empty_states
        self.rows = 0

    @staticmethod
    def _stamp(stamp):
        return ("", "") if stamp is None else (str(stamp[0]), str(stamp[1]))

    @staticmethod
    def _loose(values):
        return "".join("," if v is None else ",%.9g" % v for v in values)

    def basic(self, sample, stamp, values, exact, status):
        sec, nsec = self._stamp(stamp)
        if exact:
            self.file.write(self._basic % (("basic", sample.index, sec, nsec, sample.received_at)
                                           + tuple(status) + tuple(values)))
        else:
            self.file.write("basic,%d,%s,%s,%.6f," % (sample.index, sec, nsec, sample.received_at)
                            + ",".join("%d" % int(v) for v in status) + self._loose(values)
                            + self._empty_actions + "\n")
        self.rows += 1

    def extra(self, sample, stamp, values, exact):
        sec, nsec = self._stamp(stamp)
        if exact:
            self.file.write(self._extra % (("extra", sample.index, sec, nsec, sample.received_at) + tuple(values)))
        else:
            self.file.write("extra,%d,%s,%s,%.6f" % (sample.index, sec, nsec, sample.received_at)
                            + "," * len(STATUS) + self._empty_states + self._loose(values) + "\n")
        self.rows += 1

    def basic_batch(self, block):
        if not block.exact:
            for sample, stamp, values, status in each_row(block):
                self.basic(sample, stamp, values, False, status)
            return
        import numpy as np

        status = block.status
        n = len(block)
        # the 42 booleans as text at once; the two codes each in the row's head
        flags = np.empty((n, 2 * (len(STATUS) - 2)), dtype=np.uint8)
        flags[:, 0::2] = ord(",")
        flags[:, 1::2] = (status[:, 2:] != 0) + ord("0")
        flags = flags.tobytes().decode("ascii")
        width = flags and len(flags) // n
        heads = ["basic,%d,%d,%d,%.6f,%d,%d" % r for r in zip(
            block.index.tolist(), *block.stamp.T.tolist(), block.received_at.tolist(), *status[:, :2].T.tolist())]
        self._write_rows(heads, [flags[r * width:(r + 1) * width] for r in range(n)], block.values, self._basic_tail)

    def extra_batch(self, block):
        if not block.exact:
            for sample, stamp, values, _ in each_row(block):
                self.extra(sample, stamp, values, False)
            return
        heads = ["extra,%d,%d,%d,%.6f" % r for r in zip(
            block.index.tolist(), *block.stamp.T.tolist(), block.received_at.tolist())]
        self._write_rows(heads, [self._extra_middle] * len(block), block.values, "\n")

    def _write_rows(self, heads, middles, values, tail):
        import numpy as np

        from . import csvtext

        text, lengths = csvtext.cells(values)
        ends = np.cumsum(lengths.sum(axis=1)).tolist()
        starts = [0] + ends[:-1]
        self.file.write("".join([h + m + text[a:b] + tail for h, m, a, b in zip(heads, middles, starts, ends)]))
        self.rows += len(heads)

    def close(self):
        try:
            self.file.close()
        except OSError as e:
            raise CliError("cannot finish %s: %s" % (self.path, e.strerror or e), FAILED) from None


def load_pyarrow():
    try:
        import pyarrow
        import pyarrow.parquet
    except ImportError:
        raise missing_package("writing Parquet", "pyarrow", "parquet") from None
    return pyarrow


class ParquetWriter:
    kind = "Parquet"
    BATCH = 4096  # rows per row group

    def __init__(self, path, layout, meta):
        pa = load_pyarrow()
        self.pa = pa
        self.path = path
        types = [pa.string(), pa.int64(), pa.int32(), pa.int64(), pa.float64(), pa.int32(), pa.int32()]
        types += [pa.bool_()] * (len(STATUS) - 2)
        types += [pa.float64()] * (len(layout.columns) - len(COMMON) - len(STATUS))
        self.schema = pa.schema(list(zip(layout.columns, types)), metadata=meta)
        try:
            self.writer = pa.parquet.ParquetWriter(path, self.schema)
        except OSError as e:
            raise CliError("cannot write %s: %s" % (path, e), FAILED) from None
        self._no_status = [None] * len(STATUS)
        self._no_states = [None] * layout.state_width()
        self._no_actions = [None] * layout.action_width()
        self.pending = []
        self.blocks = None  # whole batches not yet written (parquet_batches.PendingBlocks)
        self.rows = 0

    def basic(self, sample, stamp, values, exact, status):
        sec, nsec = (None, None) if stamp is None else stamp
        self.pending.append(["basic", sample.index, sec, nsec, sample.received_at] + status + values + self._no_actions)
        self._row()

    def extra(self, sample, stamp, values, exact):
        sec, nsec = (None, None) if stamp is None else stamp
        self.pending.append(["extra", sample.index, sec, nsec, sample.received_at] + self._no_status
                            + self._no_states + values)
        self._row()

    def basic_batch(self, block):
        self._add("basic", block)

    def extra_batch(self, block):
        self._add("extra", block)

    def _add(self, stream, block):
        if self.blocks is None:
            from .parquet_batches import PendingBlocks

            self.blocks = PendingBlocks(self.pa, self.schema, len(self._no_states), len(self._no_actions))
        self._flush()  # the rows taken one by one before, in their order
        self.blocks.add(stream, block)
        self.rows += len(block)
        if self.blocks.rows >= self.BATCH:
            self._write_blocks()

    def _write_blocks(self):
        table = self.blocks.table() if self.blocks is not None else None
        if table is not None:
            self.writer.write_table(table)

    def _row(self):
        self.rows += 1
        if len(self.pending) >= self.BATCH:
            self._flush()

    def _flush(self):
        if not self.pending:
            return
        self._write_blocks()
        pa = self.pa
        columns = [pa.array(c, type=f.type) for c, f in zip(zip(*self.pending), self.schema)]
        self.writer.write_table(pa.Table.from_arrays(columns, schema=self.schema))
        self.pending = []

    def close(self):
        try:
            self._flush()
            self._write_blocks()
            self.writer.close()
        except OSError as e:
            raise CliError("cannot finish %s: %s" % (self.path, e), FAILED) from None


def open_writer(path, layout, meta):
    if is_mcap(path):
        from .mcap_writer import McapWriter

        return McapWriter(path, layout, meta)
    return (ParquetWriter if is_parquet(path) else CsvWriter)(path, layout, meta)


def check_writable(path):
    """Fails early (before connecting) when the file cannot be made or its format cannot be written."""
    if is_parquet(path):
        load_pyarrow()
    elif is_mcap(path):
        from .mcap_writer import load_mcap

        load_mcap()
    check_creatable(path)


def check_creatable(path):
    """Fails when the file's folder is missing, or the file cannot be made or replaced there."""
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise CliError("cannot write %s: no folder %s" % (path, folder), FAILED)
    if not os.access(folder, os.W_OK) or (os.path.exists(path) and not os.access(path, os.W_OK)):
        raise CliError("cannot write %s: permission denied" % path, FAILED)
