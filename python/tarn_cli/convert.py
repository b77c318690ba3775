"""tarn convert IN --out OUT: a recording in another format (CSV, Parquet, MCAP), row for row."""

import argparse
import collections
import json
import os
import struct

from .columns import COMMON, STATUS, Layout
from .errors import FAILED, USAGE, CliError
from .readers import not_tarn, open_recording
from .writers import check_writable, kind, open_writer

HELP = "turn a recording into another format: CSV, Parquet (.parquet, .pq) or MCAP (.mcap)"
DESCRIPTION = """\
Reads a recording made by `tarn record` and writes the same samples, with
what the file says it is, in the format OUT's name asks for: CSV, Parquet
(.parquet or .pq, needs pyarrow) or MCAP (.mcap, needs mcap)."""

Sample = collections.namedtuple("Sample", "index received_at")


def add_parser(sub, common):
    p = sub.add_parser("convert", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("file", metavar="IN", help="a recording (.csv, .parquet / .pq or .mcap)")
    p.add_argument("--out", required=True, metavar="OUT", help="file to write (.csv, .parquet / .pq or .mcap)")
    p.set_defaults(run=run)
    return p


def _meta(recording, layout, path):
    meta = dict(recording.meta)
    meta["columns"] = json.dumps(layout.columns)
    meta.setdefault("units", json.dumps(layout.units(), ensure_ascii=False))
    meta["converted_from"] = os.path.basename(path)
    return meta


def convert(path, out):
    """Writes OUT from IN; (the writer, rows written)."""
    if os.path.abspath(path) == os.path.abspath(out):
        raise CliError("cannot convert %s into itself" % path, USAGE)
    check_writable(out)
    if not os.path.exists(path):
        raise CliError("cannot read %s: no such file" % path, FAILED)
    recording = open_recording(path)
    layout = Layout.from_columns(recording.columns)
    if layout is None:
        raise not_tarn(path, "its columns are not those of a recording")
    status_at = len(COMMON)
    states_at = status_at + len(STATUS)
    actions_at = states_at + layout.state_width()
    writer = open_writer(out, layout, _meta(recording, layout, path))
    try:
        for row in recording.rows():
            stream, index, sec, nsec, received_at = row[:states_at - len(STATUS)]
            if not all(isinstance(v, int) for v in (sec, nsec) if v is not None):
                raise not_tarn(path, "a stamp that is no number: %r %r" % (sec, nsec))
            sample = Sample(index, received_at)
            stamp = None if sec is None or nsec is None else (sec, nsec)
            if stream == "basic":
                status = list(row[status_at:states_at])
                if None in status:
                    raise not_tarn(path, "a states row without the robot's status")
                values = list(row[states_at:actions_at])
                writer.basic(sample, stamp, values, None not in values, status)
            elif stream == "extra":
                values = list(row[actions_at:])
                writer.extra(sample, stamp, values, None not in values)
            else:
                raise not_tarn(path, "a row of stream %r" % stream)
    except struct.error as e:  # a number no MCAP message field holds: an edited file
        raise not_tarn(path, "a value out of range: %s" % e) from None
    finally:
        writer.close()
    return writer


def run(args, log):
    writer = convert(args.file, args.out)
    print("converted %s to %s (%s, %d rows, %.1f MB)"
          % (args.file, args.out, kind(args.out), writer.rows, os.path.getsize(args.out) / 1e6))
    return 0
