"""tarn record SN --duration S --out FILE: every sample of both streams, to CSV, Parquet or MCAP."""

import argparse
import os
import resource
import signal
import time

from . import recmeta, robot
from .columns import FIELDS, Layout, covered_groups
from .errors import FAILED, USAGE, CliError
from .losses import Losses
from .progress import Progress
from .writers import Rows, check_writable, open_writer

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

POLL = 0.01    # seconds between looks at empty queues
BATCH = 200    # samples taken from one stream before looking at the other


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


class StreamTally:
    """Counts one stream's recorded samples and finds holes in its index and in the robot's stamps."""

    WARMUP = 100  # steps before the usual stamp step is known

    def __init__(self):
        self.recorded = 0
        self.first_index = self.last_index = None
        self.index_gaps = 0          # samples the client took but the file lacks
        self.first_stamp = self.last_stamp = None
        self.no_stamp = 0            # inconsistent samples: no group, so no stamp
        self.backwards = 0           # steps of zero or less: repeated or reordered stamps
        self.stamp_missing = 0       # samples missing between stamps, in usual steps
        self.step = None             # the usual step, ns
        self._warmup = []

    def add(self, index, stamp):
        self.recorded += 1
        if self.last_index is not None and index != self.last_index + 1:
            self.index_gaps += max(0, index - self.last_index - 1)
        if self.first_index is None:
            self.first_index = index
        self.last_index = index
        if stamp is None:
            self.no_stamp += 1
            return
        ns = stamp[0] * 1_000_000_000 + stamp[1]
        if self.last_stamp is not None:
            self._step(ns - self.last_stamp)
        else:
            self.first_stamp = ns
        self.last_stamp = ns

    def _step(self, d):
        if d <= 0:
            self.backwards += 1
            return
        if self.step is None:
            self._warmup.append(d)
            if len(self._warmup) >= self.WARMUP:
                self.finish()
            return
        if d > 1.5 * self.step:
            self.stamp_missing += round(d / self.step) - 1

    def finish(self):
        if self.step is None and self._warmup:
            steps = sorted(self._warmup)
            self.step = steps[len(steps) // 2]
            pending, self._warmup = self._warmup, []
            for d in pending:
                self._step(d)

    def expected(self):
        """Samples between the first and last stamp, counted in usual steps (None without two stamps)."""
        if self.first_stamp is None or self.step is None or self.last_stamp == self.first_stamp:
            return None
        return round((self.last_stamp - self.first_stamp) / self.step) + 1


class _StopFlag:
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


def _check_selection(args):
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


def _layout(client, groups, fields):
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
    groups, fields = _check_selection(args)
    name = robot.checked_serial(args.serial)
    check_writable(args.out)
    norviktarn = robot.load_module()
    robot.use_network(args)
    client = robot.connect(args.serial, args.verbose)
    try:
        layout, joints = _layout(client, groups, fields)
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


def _record(client, norviktarn, layout, writer, args):
    rows = Rows(layout)
    tallies = {"basic": StreamTally(), "extra": StreamTally()}
    kinds = {"basic": norviktarn.StreamKind.BASIC, "extra": norviktarn.StreamKind.EXTRA}
    before = {k: client.stream_health(v) for k, v in kinds.items()}
    progress = Progress(args.duration, quiet=args.quiet)
    streams = {
        "basic": (client.next_states, rows.states, lambda s, st, v, e: writer.basic(s, st, v, e, rows.status(s))),
        "extra": (client.next_actions, rows.actions, writer.extra),
    }
    lag = 0.0
    taken = 0
    every = args.every
    seen = {"basic": 0, "extra": 0}

    def take(kind, end=None):
        """Writes queued samples of one stream, up to BATCH: "empty", "more", or "past" (one at or past `end`)."""
        nonlocal lag, taken
        next_sample, convert, write = streams[kind]
        for _ in range(BATCH):
            sample = next_sample(0)
            if sample is None:
                return "empty"
            if end is not None and sample.received_at >= end:
                return "past"
            stamp, values, exact = convert(sample)
            if seen[kind] % every == 0:
                write(sample, stamp, values, exact)
            seen[kind] += 1
            tallies[kind].add(sample.index, stamp)
            lag = time.monotonic() - sample.received_at
            taken += 1
        return "more"

    def lost():
        now = {k: client.stream_health(v) for k, v in kinds.items()}
        return Losses.count(tallies, before, now)

    usage0 = resource.getrusage(resource.RUSAGE_SELF)
    client.start_sample_queues(args.queue)
    start = time.monotonic()
    end = None if args.duration is None else start + args.duration
    past = {"basic": False, "extra": False}
    with _StopFlag() as stop:
        while True:
            now = time.monotonic()
            if stop.set and (end is None or end > now):
                end = now
            if end is not None and now >= end:
                break
            before_round = taken
            for kind in ("basic", "extra"):
                if not past[kind]:
                    past[kind] = take(kind, end) == "past"
            progress.update(now, now - start, tallies["basic"].recorded, tallies["extra"].recorded, lost(), lag)
            if taken == before_round:
                # nothing queued: let samples gather, then take them in a batch (a wake-up per sample costs more)
                time.sleep(POLL)
        # everything that arrived before the end is queued by now: take it, up to the end
        for kind in ("basic", "extra"):
            while not past[kind]:
                state = take(kind, end)
                past[kind] = state != "more"
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
