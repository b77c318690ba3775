"""tarn record SN --duration S --out FILE: every sample of both streams, to CSV, Parquet or MCAP."""

import argparse
import os
import resource
import signal
import time

from . import recmeta, robot
from .columns import FIELDS, Layout, covered_groups
from .errors import FAILED, USAGE, CliError, missing_package
from .losses import Losses
from .progress import Progress
from .writers import check_writable, open_writer

HELP = "record every sample of both streams to CSV, Parquet (FILE.parquet) or MCAP (FILE.mcap)"
DESCRIPTION = """\
Records every sample of the robot's two streams, from the moment it starts
until S seconds have passed (or Ctrl-C), to FILE: CSV, Parquet when the name
ends in .parquet or .pq (needs pyarrow), MCAP with ROS 2 messages when it
ends in .mcap (needs mcap; opens in Foxglove, PlotJuggler, ros2 bag; topics
in docs/tarn.md). By default the joint groups that repeat no other's joints
(not ARMS where ARM_1 and ARM_2 are) and every field; --groups, --fields
and --every N (every N-th sample of each stream) record less. What the file
is (robot, versions, joint layout, start, units, --every) goes with it: in a
side file FILE.meta.json for CSV, in the file for Parquet and MCAP. CSV and
Parquet have one row per sample, one column per value, named
GROUP.FIELD.PART (ARM_1.q.1, ARM_1.tcp_wrench.fz, ...);
`stream` says which stream a row holds (basic: measured states, extra:
commanded values), `index` is the client's sample number on that stream,
stamp_sec/stamp_nanosec the robot's time stamp (extra rows carry the stamp
of the states sample they followed) and received_at the local arrival time
(monotonic seconds). A progress line on stderr shows the samples and what
the file lacks, the summary on stdout and the exit message the same counts:
samples that never arrived (gaps in the robot's stamps: not sent, or lost on
the network), samples dropped by the tool (its queue was full) and malformed
ones; the summary gives the stamps and CPU too. Exits with 1 when the file
misses a sample."""

POLL = 0.05    # seconds between looks at queues that had less than a batch
BATCH = 1000   # samples taken from one stream at once


def add_parser(sub, common):
    p = sub.add_parser("record", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    robot.add_network_options(p)
    p.add_argument("serial", metavar="SN", help='the robot\'s serial number, e.g. "Rizon 4s-062068"')
    p.add_argument("--out", required=True, metavar="FILE", help="file to write (.csv, .parquet / .pq, or .mcap)")
    p.add_argument("--groups", metavar="G,G", help="joint groups to record, e.g. ARM_1,EXT_AXIS "
                   "(default: those that repeat no other group's joints)")
    p.add_argument("--fields", metavar="F,F", help="fields to record, e.g. q,dq,tau,tcp_pose,q_d (default: all)")
    p.add_argument("--every", type=int, default=1, metavar="N",
                   help="keep every N-th sample of each stream (default 1: all)")
    p.add_argument("--duration", type=float, metavar="S", help="seconds to record (default: until Ctrl-C)")
    p.add_argument("--queue", type=int, default=10000, metavar="N",
                   help="samples per stream the client keeps while the tool writes (default 10000)")
    p.add_argument("--quiet", action="store_true", help="no progress line")
    p.set_defaults(run=run)
    return p


class StopFlag:
    """Ctrl-C and SIGTERM end the recording between two rows, never inside one."""

    def __init__(self):
        self.set = False

    def __enter__(self):
        self._old = {s: signal.signal(s, self._handle) for s in (signal.SIGINT, signal.SIGTERM)}
        return self

    def _handle(self, signum, frame):
        self.set = True

    def __exit__(self, *exc):
        for s, h in self._old.items():
            signal.signal(s, h)
        return False


def _names(text):
    return [n.strip() for n in text.split(",") if n.strip()] if text is not None else None


def check_selection(args):
    if args.every < 1:
        raise CliError("--every must be at least 1", USAGE)
    fields = _names(args.fields)
    if fields is not None:
        unknown = [f for f in fields if f not in FIELDS]
        if unknown or not fields:
            raise CliError("no field %s (fields: %s)" % (", ".join(unknown) or '""', ", ".join(FIELDS)), USAGE)
    if args.groups is not None and not _names(args.groups):
        raise CliError("--groups names no group", USAGE)
    return _names(args.groups), (set(fields) if fields is not None else None)


def choose_layout(client, groups, fields):
    deadline = time.monotonic() + 2.0
    states, actions = client.states(), client.actions()
    while (not states or not actions) and time.monotonic() < deadline:
        time.sleep(0.01)
        states, actions = client.states(), client.actions()
    if not states:
        raise CliError("the robot sends no usable states samples (none within 2 s)", FAILED)
    joints = {g.name: tuple(v) for g, v in client.layout().items()}
    present = [g.name for g in states]
    if groups is None:
        covered = covered_groups({g: joints[g] for g in present if g in joints})
        groups = [g for g in present if g not in covered]
    else:
        unknown = [g for g in groups if g not in present]
        if unknown:
            raise CliError("the robot has no group %s (it has %s)" % (", ".join(unknown), ", ".join(present)), USAGE)
    return Layout.from_client(states, actions, set(groups), fields), joints


def run(args, log):
    if args.duration is not None and not args.duration > 0:
        raise CliError("--duration must be more than 0 seconds", USAGE)
    if args.queue < 1:
        raise CliError("--queue must be at least 1", USAGE)
    groups, fields = check_selection(args)
    name = robot.checked_serial(args.serial)
    check_writable(args.out)
    _load_numpy()
    norviktarn = robot.load_module()
    robot.use_network(args)
    client = robot.connect(args.serial, args.verbose)
    try:
        layout, joints = choose_layout(client, groups, fields)
        meta = recmeta.build(name, client.server_version(), joints, norviktarn.__version__, layout, args.every)
        writer = open_writer(args.out, layout, meta)
        try:
            result = _record(client, norviktarn, layout, writer, args)
        finally:
            writer.close()
        size = os.path.getsize(args.out)
    finally:
        client.close()
    return _summary(args, name, writer, size, *result)


def _load_numpy():
    """The client hands over samples in NumPy arrays."""
    try:
        import numpy
    except ImportError:
        raise missing_package("recording", "numpy", "numpy") from None
    return numpy


def _record(client, norviktarn, layout, writer, args):
    np = _load_numpy()
    from . import batches
    from .tally import StreamTally

    tallies = {"basic": StreamTally(), "extra": StreamTally()}
    kinds = {"basic": norviktarn.StreamKind.BASIC, "extra": norviktarn.StreamKind.EXTRA}
    before = {k: client.stream_health(v) for k, v in kinds.items()}
    progress = Progress(args.duration, quiet=args.quiet)
    streams = {
        "basic": (client.take_states, batches.states, writer.basic_batch),
        "extra": (client.take_actions, batches.actions, writer.extra_batch),
    }
    lag = 0.0
    every = args.every
    seen = {"basic": 0, "extra": 0}

    def take(kind, end=None):
        """Writes one batch of a stream's queued samples: "empty", "some" (the queue is empty now), "more"
        (a whole batch: more may wait) or "past" (it reached `end`; the samples from there are left out)."""
        nonlocal lag
        take_batch, convert, write = streams[kind]
        batch = take_batch(BATCH, 0)
        if batch is None:
            return "empty"
        block = convert(batch, layout)
        state = "more" if len(block) >= BATCH else "some"
        if end is not None:
            late = np.flatnonzero(block.received_at >= end)
            if len(late):
                block, state = block.rows(slice(0, late[0])), "past"
        if len(block):
            first = seen[kind]
            kept = block if every == 1 else block.rows(np.flatnonzero((first + np.arange(len(block))) % every == 0))
            if len(kept):
                write(kept)
            seen[kind] += len(block)
            tallies[kind].add(block.index, block.stamp)
            lag = time.monotonic() - float(block.received_at[-1])
        return state

    def lost():
        now = {k: client.stream_health(v) for k, v in kinds.items()}
        return Losses.count(tallies, before, now)

    usage0 = resource.getrusage(resource.RUSAGE_SELF)
    client.start_sample_queues(args.queue)
    start = time.monotonic()
    end = None if args.duration is None else start + args.duration
    past = {"basic": False, "extra": False}
    with StopFlag() as stop:
        while True:
            now = time.monotonic()
            if stop.set and (end is None or end > now):
                end = now
            if end is not None and now >= end:
                break
            full = False
            for kind in ("basic", "extra"):
                if not past[kind]:
                    state = take(kind, end)
                    past[kind] = state == "past"
                    full = full or state == "more"
            progress.update(now, now - start, tallies["basic"].recorded, tallies["extra"].recorded, lost(), lag)
            if not full:
                # let samples gather, then take them in a batch (a wake-up per sample costs more); wake at
                # the end, so that the counts of the stream's health end with the recording
                time.sleep(POLL if end is None else max(0.0, min(POLL, end - time.monotonic())))
        # everything that arrived before the end is queued by now: take it, up to the end
        for kind in ("basic", "extra"):
            while not past[kind]:
                past[kind] = take(kind, end) != "more"
    elapsed = end - start
    usage1 = resource.getrusage(resource.RUSAGE_SELF)
    busy = time.monotonic() - start
    cpu = (usage1.ru_utime - usage0.ru_utime + usage1.ru_stime - usage0.ru_stime) / max(1e-9, busy)
    for t in tallies.values():
        t.finish()
    losses = lost()
    progress.finish(elapsed, tallies["basic"].recorded, tallies["extra"].recorded, losses, lag)
    return tallies, losses, elapsed, cpu


def _summary(args, name, writer, size, tallies, losses, elapsed, cpu):
    kept = "" if args.every == 1 else "; every %d-th sample of each stream" % args.every
    lines = ["recorded %.1f s of %s to %s (%s, %d rows, %.1f MB%s)"
             % (elapsed, name, args.out, writer.kind, writer.rows, size / 1e6, kept)]
    for kind, t in tallies.items():
        line = "  %-6s %d samples" % (kind, t.recorded)
        expected = t.expected()
        if expected is not None:
            line += ", stamps %s .. %s s in steps of %.3f ms: %d expected, %d missing" % (
                _sec(t.first_stamp), _sec(t.last_stamp), t.step / 1e6, expected, t.stamp_missing)
        lines.append(line)
    lines.append("  lost   %s (queue: %d samples a stream)" % (losses, args.queue))
    notes = []
    backwards = sum(t.backwards for t in tallies.values())
    if backwards:
        notes.append("%d stamps not after the one before" % backwards)
    no_stamp = sum(t.no_stamp for t in tallies.values())
    if no_stamp:
        notes.append("%d inconsistent samples (no joint data, no stamp)" % no_stamp)
    if notes:
        lines.append("  note   " + "; ".join(notes))
    lines.append("  CPU    %.0f%% of one core while recording" % (cpu * 100))
    print("\n".join(lines))
    if losses.total:
        raise CliError("%s misses %d samples: %s" % (args.out, losses.total, losses), FAILED)
    return 0


def _sec(ns):
    return "%d.%09d" % divmod(ns, 1_000_000_000)
