"""Command line of tarn-sim."""

import argparse
import json
import sys
import traceback

from . import faults, network
from .groups import PROFILES
from .server import Options, Simulator, log
from .streams import MALFORMED_KINDS

DESCRIPTION = """\
Simulated Norvik robot controller data service.

Serves the robot SERIAL (used as given) under norvik/robot/SERIAL: publishes
basic_stream_data and extra_stream_data, answers requests on rpc, and takes
fault switches at run time on sim/control (a JSON object of the settings
below; see sim/README.md). Prints one line "ready norvik/robot/SERIAL" on
stdout once everything is declared, logs to stderr only, stops on SIGINT or
SIGTERM with exit code 0 and then prints its counters to stderr:
"tarn-sim: stopped: samples=N rate=HZ ... cpu=P%".

Samples are numbered from 1; with --stamp-from-counter sample N carries the
stamp N x period exactly (period = round(1e9 / rate) ns), otherwise the
wall-clock time of its scheduled tick.
"""

EPILOG = """\
STREAM is basic, extra or both. Fault values:
  rpc MODE          drop | error | fail | wrong-id | delay:MS
                    (fail: the success flag a client must reject, i.e. false,
                    or true for the probe 0; wrong-id: request_id + 1)
  malformed KIND    prefix | trailing | cut, with :RATIO in (0, 1] (default 1);
                    RATIO 0.25 spoils every 4th sample
  start-id          size-mismatch | negative-dof | nan-dof | inf-dof | negative-start
  manipulability    short | size-mismatch
  primitive         missing-marker | duplicate-marker | unknown-group[:GROUP]
  plan              short | long | bad-velocity
"""


def _pair(text, what):
    key, sep, value = text.partition("=")
    if not sep or not key:
        raise argparse.ArgumentTypeError("%s: expected %s" % (text, what))
    return key, value


def _bool01(text):
    if text not in ("0", "1"):
        raise argparse.ArgumentTypeError("expected 0 or 1")
    return text == "1"


def _rate(text):
    try:
        r = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number") from None
    if not 0.01 <= r <= 20000:
        raise argparse.ArgumentTypeError("rate must be within 0.01..20000 Hz")
    return r


def parser():
    p = argparse.ArgumentParser(
        prog="tarn-sim",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("--serial", required=True, help="robot serial number, used as given in the keys")
    p.add_argument("--profile", choices=sorted(PROFILES), default="dual",
                   help="single: one 7-joint arm; dual: two 7-joint arms and a 1-joint track (default)")
    p.add_argument("--rate", type=_rate, default=1000.0, help="stream rate in Hz (default 1000)")
    p.add_argument("--no-streams", action="store_true", help="serve requests only, publish nothing")
    p.add_argument("--stamp-from-counter", action="store_true",
                   help="stamp sample N with N x period instead of the wall clock")
    p.add_argument("--duration", type=float, default=0.0, metavar="S",
                   help="stop by itself after S seconds (default: run until signalled)")
    p.add_argument("--exit-with-parent", action="store_true",
                   help="stop when the process that started the simulator goes away")
    n = p.add_argument_group("network (default: the file ZENOH_CONFIG names, else Zenoh's defaults: "
                             "a peer found by multicast scouting)")
    n.add_argument("--config", metavar="FILE", help="Zenoh configuration file (JSON5, as Zenoh's own tools take it)")
    n.add_argument("--connect", action="append", default=[], metavar="ENDPOINT",
                   help="connect to a Zenoh router at ENDPOINT, e.g. tcp/198.18.0.2:7447 (repeatable; "
                        "client mode, multicast scouting off)")
    g = p.add_argument_group("fault switches (all can be changed at run time)")
    g.add_argument("--version-reply", metavar="TEXT", help='version string to report (default "v2.1")')
    g.add_argument("--version-empty", action="store_true", help="report an empty version list")
    g.add_argument("--rpc-fault", action="append", default=[], metavar="CODE=MODE",
                   help="deliver replies to request CODE badly (repeatable)")
    g.add_argument("--malformed", action="append", default=[], metavar="STREAM=KIND[:RATIO]",
                   help="send malformed samples on STREAM (repeatable); KIND: " + ", ".join(MALFORMED_KINDS))
    g.add_argument("--inconsistent", action="append", default=[], metavar="STREAM",
                   help="one cartesian_data entry more than joint_groups on STREAM (repeatable)")
    g.add_argument("--invalid-group", action="append", default=[], metavar="STREAM=VALUE",
                   help="list joint group VALUE (e.g. 7 or 1) as well on STREAM (repeatable)")
    g.add_argument("--start-id-fault", choices=faults.START_ID_FAULTS, help="spoil the start-ID reply (10)")
    g.add_argument("--manipulability-fault", choices=faults.MANIPULABILITY_FAULTS,
                   help="spoil the manipulability reply (9)")
    g.add_argument("--primitive-fault", metavar="KIND", help="spoil the primitive-state reply (3)")
    g.add_argument("--primitive-corrupt", type=int, default=0, metavar="N",
                   help="put an empty entry in the next N primitive-state replies")
    g.add_argument("--plan-fault", choices=faults.PLAN_FAULTS, help="spoil the plan-info reply (4)")
    g.add_argument("--paused", action="store_true", help="start with the streams paused")
    g.add_argument("--system-state", type=int, metavar="CODE", help="publish this system_state")
    g.add_argument("--safety-board-state", type=int, metavar="CODE", help="publish this safety_board_state")
    g.add_argument("--estop-released", type=_bool01, metavar="0|1", help="publish this estop_released")
    g.add_argument("--enabling-device-on", type=_bool01, metavar="0|1", help="publish this enabling_device_on")
    g.add_argument("--settings", metavar="JSON", default=None,
                   help="initial switches as a JSON object, as on the control channel; applied after the options above")
    return p


def settings_from(args, p):
    """The fault options as one JSON settings object."""
    s = {}
    if args.version_empty:
        s["version_reply"] = None
    elif args.version_reply is not None:
        s["version_reply"] = args.version_reply
    if args.rpc_fault:
        s["rpc"] = dict(_pair(x, "CODE=MODE") for x in args.rpc_fault)
    if args.malformed:
        s["malformed"] = dict(_pair(x, "STREAM=KIND[:RATIO]") for x in args.malformed)
    if args.inconsistent:
        s["inconsistent"] = {x: True for x in args.inconsistent}
    if args.invalid_group:
        groups = {}
        for x in args.invalid_group:
            stream, value = _pair(x, "STREAM=VALUE")
            try:
                groups[stream] = int(value)
            except ValueError:
                p.error("--invalid-group %s: VALUE must be an integer" % x)
        s["invalid_group"] = groups
    for key, value in (
        ("start_id", args.start_id_fault), ("manipulability", args.manipulability_fault),
        ("primitive", args.primitive_fault), ("plan", args.plan_fault),
        ("system_state", args.system_state), ("safety_board_state", args.safety_board_state),
        ("estop_released", args.estop_released), ("enabling_device_on", args.enabling_device_on),
    ):
        if value is not None:
            s[key] = value
    if args.primitive_corrupt:
        s["primitive_corrupt"] = args.primitive_corrupt
    if args.paused:
        s["paused"] = True
    if args.settings:
        try:
            extra = json.loads(args.settings)
        except ValueError as e:
            p.error("--settings: %s" % e)
        if not isinstance(extra, dict):
            p.error("--settings: must be a JSON object")
        for key, value in extra.items():
            if isinstance(value, dict) and isinstance(s.get(key), dict):
                s[key] = dict(s[key], **value)
            else:
                s[key] = value
    return s


def main(argv=None):
    p = parser()
    args = p.parse_args(argv)
    try:
        settings = settings_from(args, p)
        faults.apply_changes(faults.DEFAULTS, settings, faults.DEFAULTS)
    except (argparse.ArgumentTypeError, faults.SettingsError) as e:
        p.error(str(e))
    if args.duration < 0:
        p.error("--duration must not be negative")
    # the serial goes into key expressions as is: refuse what would turn it into a pattern
    if not args.serial or any(c in args.serial for c in "*$#?") or "//" in args.serial \
            or args.serial.startswith("/") or args.serial.endswith("/"):
        p.error("--serial %r cannot be part of a key expression" % args.serial)
    try:
        config = network.zenoh_config(args.config, args.connect)
    except network.ConfigError as e:
        p.error(str(e))
    options = Options(
        serial=args.serial,
        profile=args.profile,
        rate=args.rate,
        streams=not args.no_streams,
        stamp_from_counter=args.stamp_from_counter,
        duration=args.duration,
        exit_with_parent=args.exit_with_parent,
        settings=settings,
        zenoh_config=config,
    )
    try:
        return Simulator(options).run()
    except KeyboardInterrupt:
        return 0
    except Exception:
        log("failed:\n" + traceback.format_exc())
        return 1


if __name__ == "__main__":
    sys.exit(main())
