"""tarn watch SN: the robot's live data, refreshed several times a second."""

import argparse
import os
import sys
import time

from . import robot, view
from .errors import USAGE, CliError
from .health import StreamMeter
from .plan_poller import PlanPoller
from .terminal import Screen

HELP = "show the robot's live data in the terminal (q or Ctrl-C quits)"
DESCRIPTION = """\
A live view of the robot: per joint group the joint positions (q),
velocities (dq), torques (tau) and temperatures, the TCP pose and wrench
(world frame); the system and safety-board state, e-stop, enabling device,
digital inputs and outputs (DI/DO, bit 0 first), the plan, and the health of
both streams (rate, age of the latest sample, received and malformed
counts). In a terminal it redraws in place; q or Ctrl-C quits and puts the
terminal back, g shows one joint group after another. When the output is not
a terminal it prints one plain snapshot a second instead."""

FIRST_PLAN_WAIT = 1.0  # seconds the first frame waits for the plan; later frames never wait
QUIT_WAIT = 0.1        # seconds quitting waits for the plan thread before it ends the process
ERROR_WAIT = 3.0       # seconds a failing command waits for it (a request's deadline is 2 s)


def add_parser(sub, common):
    p = sub.add_parser("watch", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    robot.add_network_options(p)
    p.add_argument("serial", metavar="SN", help='the robot\'s serial number, e.g. "Rizon 4s-062068"')
    p.add_argument("--interval", type=float, metavar="S",
                   help="seconds between refreshes (default 0.2 in a terminal, 1 otherwise)")
    p.add_argument("--duration", type=float, metavar="S", help="stop after S seconds (default: run until quit)")
    p.add_argument("--stale-after", type=float, default=0.1, metavar="S",
                   help="a stream with no sample for S seconds shows as stale (default 0.1)")
    p.set_defaults(run=run)
    return p


class Snapshot:
    """What one frame shows; kept between frames so a quiet robot still shows its last values.

    Only quick reads happen here: the plan comes from a PlanPoller's thread, so a request that waits
    for its answer never holds up a frame."""

    def __init__(self, name, client, norviktarn, stale_after, plans):
        self.robot = name
        self.client = client
        self.stale_after = stale_after
        self.meters = {"basic": StreamMeter(client, norviktarn.StreamKind.BASIC),
                       "extra": StreamMeter(client, norviktarn.StreamKind.EXTRA)}
        self.plans = plans
        self.sample = None
        self.plan = None
        self.plan_error = None
        self.log_line = None
        self.wall_time = time.time()

    def update(self, now):
        self.wall_time = time.time()
        # the queue keeps only the newest sample: one whole sample per frame, codes and I/O included
        latest = self.client.next_states(0)
        if latest is not None:
            self.sample = latest
        for m in self.meters.values():
            m.update(now)
        self.plan, self.plan_error = self.plans.latest()


def run(args, log):
    if args.interval is not None and not args.interval > 0:
        raise CliError("--interval must be more than 0 seconds", USAGE)
    if args.duration is not None and not args.duration >= 0:
        raise CliError("--duration must be 0 seconds or more", USAGE)
    if not args.stale_after > 0:
        raise CliError("--stale-after must be more than 0 seconds", USAGE)
    name = robot.checked_serial(args.serial)
    norviktarn = robot.load_module()
    robot.use_network(args)
    client = robot.connect(args.serial, args.verbose)
    plans = PlanPoller(client, norviktarn.StreamKind.BASIC, args.stale_after)
    snap = Snapshot(name, client, norviktarn, args.stale_after, plans)
    try:
        client.start_sample_queues(1)
        plans.start()
        # the first frame shows data rather than "no sample yet" and "not asked yet"
        snap.sample = client.next_states(0.5)
        plans.wait_first(FIRST_PLAN_WAIT)
        if sys.stdout.isatty():
            _screen(snap, args, log)
        else:
            _plain(snap, args)
    except BaseException:
        _close(snap, plans)
        plans.join(ERROR_WAIT)  # the error's line and status matter more than a quick end
        raise
    _close(snap, plans)
    if not plans.join(QUIT_WAIT):
        _end_now(log)
    return 0


def _close(snap, plans):
    plans.stop()
    client, snap.client = snap.client, None
    for m in snap.meters.values():
        m.client = None
    client.close()


def _end_now(log):
    """A request under way keeps the client until its deadline (up to 2 s), and the interpreter must not
    stop under a call that is still out: with the screen put back and the output written, the process
    ends here. It only ever read from the robot, so nothing is left half done."""
    log.stop()
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except (OSError, ValueError):
            pass
    os._exit(0)


def _screen(snap, args, log):
    interval = args.interval or 0.2
    end = None if args.duration is None else time.monotonic() + args.duration
    log.sync()  # the connection lines go out before the screen comes up
    log.forward = False  # lines on stderr would tear the screen; the latest shows at the bottom
    start_lines = len(log.lines)
    groups_shown = None
    try:
        with Screen() as screen:
            try:
                while end is None or time.monotonic() < end:
                    now = time.monotonic()
                    snap.update(now)
                    snap.log_line = log.latest() if len(log.lines) > start_lines else None
                    width, _ = screen.size()
                    screen.draw(view.render(snap, width, groups_shown))
                    keys = screen.key(max(0.0, now + interval - time.monotonic())) or ""
                    if any(k in "qQ" for k in keys):
                        break
                    for _ in range(sum(k in "gG" for k in keys)):  # keys typed fast come in one read
                        groups_shown = _next_group(snap, groups_shown)
            except KeyboardInterrupt:
                pass
    finally:
        log.forward = True


def _next_group(snap, current):
    groups = list(snap.sample.states) if snap.sample is not None else []
    if not groups:
        return None
    if current is None or current not in groups:
        return groups[0]
    i = groups.index(current) + 1
    return groups[i] if i < len(groups) else None


def _plain(snap, args):
    interval = args.interval or 1.0
    try:
        width = max(20, int(os.environ.get("COLUMNS", "100")))
    except ValueError:
        width = 100
    start = time.monotonic()
    frame = 0
    try:
        while True:
            now = time.monotonic()
            snap.update(now)
            print("\n".join(view.render(snap, width, keys_hint=False)) + "\n", flush=True)
            frame += 1
            due = start + frame * interval
            if args.duration is not None and due > start + args.duration + 1e-6:
                break
            time.sleep(max(0.0, due - time.monotonic()))
    except KeyboardInterrupt:
        pass
