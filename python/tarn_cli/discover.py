"""tarn list: the robots that answer on the network."""

import argparse
import json

from . import fmt, robot
from .errors import NO_ROBOT, USAGE, CliError

HELP = "list the robots that answer on the network, with their server version"
DESCRIPTION = """\
Asks every robot on the network for its server version and prints one line
per robot that answers: its serial number and its version. Waits the whole
time-out, since nobody knows in advance how many robots will answer. Exits
with 3 when none answers."""


def add_parser(sub, common):
    p = sub.add_parser("list", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    robot.add_network_options(p)
    p.add_argument("--timeout", type=float, default=2.0, metavar="S", help="how long to listen (default 2 s)")
    p.add_argument("--json", action="store_true", help="print one JSON array instead of text")
    p.set_defaults(run=run)
    return p


def run(args, log):
    if not 0 < args.timeout <= 3600:
        raise CliError("--timeout must be within 0..3600 s", USAGE)
    robot.use_network(args)
    norviktarn = robot.load_module()
    try:
        found = norviktarn.list_robots(args.timeout)
    except RuntimeError as e:
        raise robot.network_error(str(e)) or CliError(str(e)) from None
    rows = [{"serial": r.serial, "server_version": r.server_version,
             "compatible": r.server_version == robot.CLIENT_VERSION} for r in found]
    if args.json:
        print(json.dumps(rows, indent=2))
    else:
        for r in rows:
            version = fmt.shown(r["server_version"]) if r["server_version"] else "(no version reported)"
            note = "" if r["compatible"] else "   (this tool speaks %s)" % robot.CLIENT_VERSION
            print("%s  %s%s" % (fmt.shown(r["serial"]), version, note))
    if not rows:
        raise CliError("no robot answered within %g s (check the network link and any firewall)" % args.timeout,
                       NO_ROBOT)
    return 0
