"""tarn bridge SN: the robot's data live in Foxglove, over its WebSocket protocol."""

import argparse
import time

from . import robot
from .bridge_messages import BridgeMessages
from .bridge_server import BACKLOG, FoxgloveServer, load_foxglove
from .errors import USAGE, CliError
from .record import StopFlag, check_selection, choose_layout

HELP = "serve the live data to Foxglove (WebSocket, ws://127.0.0.1:8765), the topics of an MCAP recording"
DESCRIPTION = """\
Serves the robot's live data on a Foxglove WebSocket server (needs
foxglove-sdk): in Foxglove, Open connection > Foxglove WebSocket >
ws://127.0.0.1:8765. The topics and their ROS 2 messages (schema encoding
ros2msg, message encoding cdr) are those of an MCAP recording (tarn record
FILE.mcap; docs/tarn.md lists them), stamped with the robot's time, logged
at the arrival time. Each stream's newest sample is sent at up to --rate
times a second, only on the topics a viewer subscribed to. A viewer that
reads too slowly loses its oldest messages (%d queued a viewer); the others
and the robot's client never wait for it. By default the joint groups that
repeat no other's joints and every field; --groups and --fields serve less.
Loopback only unless --host says otherwise. Ctrl-C or SIGTERM stops it; a
summary line on stdout then says what was served.""" % BACKLOG

SLICE = 0.1  # longest sleep between looks at the stop flag


def _check_numbers(args):
    if not 0 < args.rate <= 1000:
        raise CliError("--rate must be more than 0 and at most 1000 Hz", USAGE)
    if not 0 <= args.port <= 65535:
        raise CliError("--port must be 0 .. 65535 (0: any free port)", USAGE)


def add_parser(sub, common):
    p = sub.add_parser("bridge", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    robot.add_network_options(p)
    p.add_argument("serial", metavar="SN", help='the robot\'s serial number, e.g. "Rizon 4s-062068"')
    p.add_argument("--host", default="127.0.0.1", help="address to serve on (default 127.0.0.1: this machine only)")
    p.add_argument("--port", type=int, default=8765, help="port to serve on (default 8765; 0: any free port)")
    p.add_argument("--rate", type=float, default=50.0, metavar="HZ",
                   help="messages a second on each topic at most (default 50)")
    p.add_argument("--groups", metavar="G,G", help="joint groups to serve, e.g. ARM_1,EXT_AXIS "
                   "(default: those that repeat no other group's joints)")
    p.add_argument("--fields", metavar="F,F", help="fields to serve, e.g. q,dq,tau,tcp_pose,q_d (default: all)")
    p.set_defaults(run=run)
    return p


class Served:
    """What the bridge sent: samples taken and messages logged per stream."""

    def __init__(self):
        self.samples = {"basic": 0, "extra": 0}
        self.messages = 0


def run(args, log):
    _check_numbers(args)
    groups, fields = check_selection(argparse.Namespace(every=1, groups=args.groups, fields=args.fields))
    name = robot.checked_serial(args.serial)
    load_foxglove()  # its hint before anything reaches the network
    robot.use_network(args)
    with FoxgloveServer(args.host, args.port, "tarn bridge %s" % name) as server:
        client = robot.connect(args.serial, args.verbose)
        try:
            layout, _ = choose_layout(client, groups, fields)
            messages = BridgeMessages(layout)
            server.advertise(messages.topics())
            print("serving %s on %s (%d topics, up to %g Hz each); Ctrl-C stops"
                  % (name, server.url, len(server.channels), args.rate), flush=True)
            start = time.monotonic()
            served = _serve(client, server, messages, 1.0 / args.rate)
            elapsed = time.monotonic() - start
        finally:
            client.close()
        viewers = server.viewers.count()
    print("served %s for %.1f s: %d basic and %d extra samples, %d messages, %d viewer%s"
          % (name, elapsed, served.samples["basic"], served.samples["extra"], served.messages,
             viewers, "" if viewers == 1 else "s"))
    return 0


def _serve(client, server, messages, period):
    """Sends each stream's newest sample every period until Ctrl-C or SIGTERM."""
    served = Served()
    # a queue of one: the newest sample of each stream, taken at most once
    client.start_sample_queues(1)
    offset = time.time_ns() - time.monotonic_ns()  # wall clock = received_at + offset, as in the MCAP files
    streams = (("basic", client.next_states, messages.basic), ("extra", client.next_actions, messages.extra))
    tick = time.monotonic()
    with StopFlag() as stop:
        while not stop.set:
            for kind, take, pack in streams:
                sample = take(0)
                if sample is None:
                    continue
                out = pack(sample, server.wanted)
                server.publish(out, round(sample.received_at * 1e9) + offset)
                served.samples[kind] += 1
                served.messages += len(out)
            tick += period
            now = time.monotonic()
            if tick < now:
                tick = now  # behind (a busy machine): go on from now, no burst to catch up
            while not stop.set and now < tick:
                time.sleep(min(SLICE, tick - now))
                now = time.monotonic()
    return served
