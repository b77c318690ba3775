"""Writing recorded samples: CSV, Parquet (FILE.parquet, .pq) or MCAP (FILE.mcap, mcap_writer.py).

Rows are built as one flat list of values and, for CSV, formatted with one
template per row: at 1 kHz every microsecond per value counts. Floats get 9
significant digits, which keeps every single-precision value the robot sends
exactly.
"""

import json
import operator
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


class Rows:
    """Turns StatesSample / ActionsSample objects into flat value lists in the layout's column order."""

    def __init__(self, layout):
        self.layout = layout
        self.state_fields = [(name, [(f, len(p)) for f, p in fields]) for name, fields in layout.state_groups]
        self.action_fields = [(name, [(f, len(p)) for f, p in fields]) for name, fields in layout.action_groups]
        # one getter per group for all its fields: the hot path at 1 kHz
        self._state_getters = [self._getter([f for f, _ in fields]) for _, fields in self.state_fields]
        self._action_getters = [self._getter([f for f, _ in fields]) for _, fields in self.action_fields]
        self.state_width = layout.state_width()
        self.action_width = layout.action_width()

    @staticmethod
    def _getter(names):
        """A record's fields as a tuple, also for one field or none (--fields)."""
        if len(names) > 1:
            return operator.attrgetter(*names)
        return (lambda r, name=names[0]: (getattr(r, name),)) if names else (lambda r: ())

    @staticmethod
    def _values(by_group, getters, width, picks):
        """The kept groups' values, or None when the sample does not have the layout's groups and sizes.

        The client cuts every sample with the groups it took at start, so a sample has all of them
        or (inconsistent) none: the count and the total size tell a sample that fits. `picks`: the
        kept groups' places among them, and their count."""
        places, count = picks
        if len(by_group) != count:
            return None
        records = list(by_group.values())
        out = []
        for getter, place in zip(getters, places):
            for values in getter(records[place]):
                out += values
        return out if len(out) == width else None

    @staticmethod
    def _values_fitted(by_group, plan):
        """Slow path: each field cut or padded to its columns, missing groups left empty."""
        named = {g.name: r for g, r in by_group.items()}
        out = []
        for name, fields in plan:
            record = named.get(name)
            for field, n in fields:
                v = list(getattr(record, field))[:n] if record is not None else []
                out += v + [None] * (n - len(v))
        return out

    def states(self, sample):
        """(stamp or None, values, exact) for one states sample."""
        by_group = sample.states
        stamp = next(iter(by_group.values())).timestamp if by_group else None
        values = self._values(by_group, self._state_getters, self.state_width, self.layout.state_picks)
        exact = values is not None
        if not exact:
            values = self._values_fitted(by_group, self.state_fields)
        return stamp, values, exact

    def actions(self, sample):
        by_group = sample.actions
        stamp = next(iter(by_group.values())).timestamp if by_group else None
        values = self._values(by_group, self._action_getters, self.action_width, self.layout.action_picks)
        exact = values is not None
        if not exact:
            values = self._values_fitted(by_group, self.action_fields)
        return stamp, values, exact

    @staticmethod
    def status(sample):
        return [sample.system_state, sample.safety_board_state, sample.estop_released,
                sample.enabling_device_on] + list(sample.digital_inputs) + list(sample.digital_outputs)


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

    def _row(self):
        self.rows += 1
        if len(self.pending) >= self.BATCH:
            self._flush()

    def _flush(self):
        if not self.pending:
            return
        pa = self.pa
        columns = [pa.array(c, type=f.type) for c, f in zip(zip(*self.pending), self.schema)]
        self.writer.write_table(pa.Table.from_arrays(columns, schema=self.schema))
        self.pending = []

    def close(self):
        try:
            self._flush()
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
