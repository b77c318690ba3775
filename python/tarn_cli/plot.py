"""tarn plot FILE --out PNG: a recording's joints and TCP wrench over time, as a picture."""

import argparse
import math
import os

from . import columns
from .columns import split
from .errors import FAILED, USAGE, CliError, missing_package
from .readers import STAMPS, open_recording
from .writers import check_creatable

HELP = "plot a recording's joint positions, velocities, torques and TCP wrench over time"
DESCRIPTION = """\
Reads a recording made by `tarn record` (CSV, Parquet or MCAP) and draws, per
joint group, the joint positions, velocities and torques over the robot's
time, and the TCP wrench in the world frame (force and moment), into one
picture (PNG, or any format matplotlib writes: .svg, .pdf). Needs
matplotlib."""

PANELS = (("q", "joint position"), ("dq", "joint velocity"), ("tau", "joint torque"))
FORCE, MOMENT = ("fx", "fy", "fz"), ("mx", "my", "mz")
# the arms' joints turn; an external axis may be a linear track, and nothing in a recording says which
QUANTITIES = {"force": ("tcp_wrench", "fx"), "moment": ("tcp_wrench", "mx")}


def unit(group, quantity):
    return columns.unit(group, *QUANTITIES.get(quantity, (quantity, None)))


def add_parser(sub, common):
    p = sub.add_parser("plot", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("file", metavar="FILE", help="a recording (.csv, .parquet / .pq or .mcap)")
    p.add_argument("--out", required=True, metavar="PNG", help="picture to write")
    p.add_argument("--groups", metavar="G,G", help="joint groups to draw, e.g. ARM_1,EXT_AXIS (default: all)")
    p.add_argument("--dpi", type=int, default=100, help="resolution (default 100)")
    p.add_argument("--max-points", type=int, default=20000, metavar="N",
                   help="draw at most N points per line, every k-th sample beyond (default 20000)")
    p.set_defaults(run=run)
    return p


def _wanted(columns):
    """Column names the plot needs, by (group, field, part)."""
    out = {}
    for c in columns:
        parts = split(c)
        if parts is None:
            continue
        group, field, part = parts
        if field in ("q", "dq", "tau") or (field == "tcp_wrench" and part in FORCE + MOMENT):
            out[c] = parts
    return out


def read(path):
    """(stamp seconds, nanoseconds, arrival times, {column: values}, wanted columns) of the states rows."""
    recording = open_recording(path)
    wanted = _wanted(recording.columns)
    names = list(STAMPS) + ["received_at"] + list(wanted)
    sec, nsec, recv = [], [], []
    data = {c: [] for c in wanted}
    lists = [data[c] for c in wanted]
    for row in recording.rows(names, stream="basic"):
        sec.append(row[0])
        nsec.append(row[1])
        recv.append(row[2])
        for values, v in zip(lists, row[3:]):
            values.append(math.nan if v is None else v)
    return sec, nsec, recv, data, wanted


def times(sec, nsec, recv):
    """Seconds from the first sample: robot stamps when every row has one, arrival times otherwise."""
    if sec and None not in sec and None not in nsec:
        try:
            ns = [int(s) * 1_000_000_000 + int(n) for s, n in zip(sec, nsec)]
            return [(t - ns[0]) / 1e9 for t in ns], "robot time"
        except ValueError:
            pass  # a stamp that is no number: the file was edited, or is not tarn's
    return [t - recv[0] for t in recv], "arrival time"


def load_pyplot():
    try:
        import matplotlib
    except ImportError:
        raise missing_package("plotting", "matplotlib", "plot") from None
    matplotlib.use("Agg")  # no display needed
    import matplotlib.pyplot as plt

    return plt


def check_output(out):
    """Fails before any reading or drawing when the picture could not be written."""
    from matplotlib.backend_bases import FigureCanvasBase

    kinds = FigureCanvasBase.get_supported_filetypes()
    suffix = os.path.splitext(out)[1][1:].lower()
    if suffix and suffix not in kinds:
        raise CliError("cannot write %s: matplotlib writes no .%s pictures (it writes %s)"
                       % (out, suffix, ", ".join("." + k for k in sorted(kinds))), USAGE)
    check_creatable(out)


def draw(path, out, groups=None, dpi=100, max_points=20000):
    plt = load_pyplot()
    check_output(out)
    fig, samples, names = figure(plt, path, groups, max_points)
    try:
        fig.savefig(out, dpi=dpi)
    except (OSError, ValueError) as e:
        raise CliError("cannot write %s: %s" % (out, e), FAILED) from None
    finally:
        plt.close(fig)
    return samples, names


def figure(plt, path, groups=None, max_points=20000):
    """The recording's figure: a row of panels per joint group; (figure, states samples, groups drawn)."""
    if not os.path.exists(path):
        raise CliError("cannot read %s: no such file" % path, FAILED)
    sec, nsec, recv, data, wanted = read(path)
    if not recv:
        raise CliError("%s has no states samples to plot" % path, FAILED)
    t, clock = times(sec, nsec, recv)
    names = []
    for group, _, _ in wanted.values():
        if group not in names:
            names.append(group)
    if groups:
        unknown = [g for g in groups if g not in names]
        if unknown:
            raise CliError("%s has no group %s (it has %s)" % (path, ", ".join(unknown), ", ".join(names)), USAGE)
        names = [g for g in names if g in groups]
    if not names:
        raise CliError("%s has no joint groups to plot" % path, FAILED)
    step = max(1, math.ceil(len(t) / max(1, max_points)))
    t = t[::step]

    def series(group, field, part):
        return data["%s.%s.%s" % (group, field, part)][::step]

    def parts(group, field):
        return [p for g, f, p in wanted.values() if g == group and f == field]

    fig, axes = plt.subplots(len(names), 5, figsize=(18, 2.6 * len(names) + 0.8), squeeze=False,
                             sharex=True, constrained_layout=True)
    for row, group in zip(axes, names):
        for ax, (field, title) in zip(row, PANELS):
            joints = parts(group, field)
            for j in joints:
                ax.plot(t, series(group, field, j), linewidth=0.9, label=j)
            ax.set_title("%s %s" % (group, title), fontsize=9)
            ax.set_ylabel("%s [%s]" % (field, unit(group, field)), fontsize=8)
            if field == "q" and joints:
                ax.legend(title="joint", fontsize=6, title_fontsize=6, ncol=2 if len(joints) > 7 else 1,
                          loc="upper right")
        for ax, components, quantity in ((row[3], FORCE, "force"), (row[4], MOMENT, "moment")):
            present = [c for c in components if c in parts(group, "tcp_wrench")]
            for c in present:
                ax.plot(t, series(group, "tcp_wrench", c), linewidth=0.9, label=c)
            ax.set_title("%s TCP %s (world)" % (group, quantity), fontsize=9)
            ax.set_ylabel("%s [%s]" % (quantity, unit(group, quantity)), fontsize=8)
            if present:
                ax.legend(fontsize=6, loc="upper right")
        for ax in row:
            ax.tick_params(labelsize=7)
            ax.grid(True, linewidth=0.3)
    for ax in axes[-1]:
        ax.set_xlabel("%s [s]" % clock, fontsize=8)
    fig.suptitle("%s: %d states samples over %.2f s" % (os.path.basename(path), len(recv), t[-1] if t else 0.0),
                 fontsize=10)
    return fig, len(recv), names


def run(args, log):
    if args.dpi < 10 or args.max_points < 2:
        raise CliError("--dpi must be at least 10 and --max-points at least 2", USAGE)
    groups = [g.strip() for g in args.groups.split(",") if g.strip()] if args.groups else None
    samples, names = draw(args.file, args.out, groups, args.dpi, args.max_points)
    print("plotted %d states samples of %s to %s" % (samples, ", ".join(names), args.out))
    return 0
