"""tarn info SN: what the robot is and what it is doing, once."""

import argparse
import json
import time

from . import fmt, robot
from .errors import FAILED, CliError
from .health import StreamMeter, as_dict, describe

HELP = "print the robot's server version, joint groups, plan, primitive states, scores and status"
DESCRIPTION = """\
Connects to the robot, prints what it reports once and exits: the server
version, the joint groups with their start index in the robot's joint vector
and their DoF, the plan, the primitive states, the configuration scores, the
system and safety-board state, e-stop, enabling device, digital I/O and the
health of both streams. Exits with 1 when a request went unanswered (the
rest is still printed)."""

STALE_AFTER = 0.1
RATE_WINDOW = 0.3  # seconds over which the stream rates are measured


def add_parser(sub, common):
    p = sub.add_parser("info", parents=[common], help=HELP, description=DESCRIPTION,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    robot.add_network_options(p)
    p.add_argument("serial", metavar="SN", help='the robot\'s serial number, e.g. "Rizon 4s-062068"')
    p.add_argument("--json", action="store_true", help="print one JSON object instead of text")
    p.set_defaults(run=run)
    return p


def _attempt(call):
    try:
        return call(), None
    except RuntimeError as e:
        return None, robot.library_text(str(e))


def gather(serial, name, verbose=False):
    """The report on the robot `serial`, whose keys use `name` (robot.checked_serial)."""
    client = robot.connect(serial, verbose)
    norviktarn = robot.load_module()
    meters = {}
    try:
        meters = {"basic": StreamMeter(client, norviktarn.StreamKind.BASIC),
                  "extra": StreamMeter(client, norviktarn.StreamKind.EXTRA)}
        started = time.monotonic()
        for m in meters.values():
            m.update(started)
        # one whole sample gives the state codes with the I/O they came with
        client.start_sample_queues(1)
        sample = client.next_states(1.0)
        groups = client.groups()
        states = client.states()
        plan, plan_error = _attempt(client.plan_info)
        primitives, primitive_error = _attempt(client.primitive_states)
        scores, score_error = _attempt(client.configuration_score)
        # a rate needs a window of some length; the requests above are usually quicker
        time.sleep(max(0.0, RATE_WINDOW - (time.monotonic() - started)))
        for m in meters.values():
            m.update()
        report = {
            "robot": name,
            "client_version": robot.CLIENT_VERSION,
            "server_version": client.server_version(),
            "groups": _groups(client.layout(), groups, states),
            "status": _status(sample, client),
            "streams": {k: as_dict(m, STALE_AFTER) for k, m in meters.items()},
            "plan": _plan(plan),
            "primitive_states": None if primitives is None else {
                g.name: {"primitive": p.pt_name, "values": dict(p.names_and_values)} for g, p in primitives.items()},
            "configuration_scores": None if scores is None else {g.name: list(s) for g, s in scores.items()},
            "errors": {k: v for k, v in (("plan", plan_error), ("primitive_states", primitive_error),
                                         ("configuration_scores", score_error)) if v},
        }
        return report, meters
    finally:
        for m in meters.values():
            m.client = None
        client.close()


def _groups(layout, groups, states):
    """One row per joint group: start and DoF as the robot told them, and whether the streams carry it."""
    in_streams = {g.name for g in groups}
    dof_seen = {g.name: len(s.q) for g, s in states.items()}
    return [{"group": g.name, "value": int(g), "start": start, "dof": dof, "in_streams": g.name in in_streams,
             "dof_in_streams": dof_seen.get(g.name)} for g, (start, dof) in layout.items()]


def _status(sample, client):
    if sample is None:
        return {"system_state": None, "safety_board_state": None, "estop_released": client.estop_released(),
                "enabling_device_on": client.enabling_device_on(), "digital_inputs": client.digital_inputs(),
                "digital_outputs": client.digital_outputs()}
    return {"system_state": sample.system_state, "safety_board_state": sample.safety_board_state,
            "estop_released": sample.estop_released, "enabling_device_on": sample.enabling_device_on,
            "digital_inputs": sample.digital_inputs, "digital_outputs": sample.digital_outputs}


def _plan(p):
    if p is None:
        return None
    return {k: getattr(p, k) for k in ("pt_name", "node_name", "node_path", "node_path_time_period",
                                       "node_path_number", "assigned_plan_name", "velocity_scale",
                                       "waiting_for_step")}


def render(report, meters):
    lines = []
    add = lines.append
    add("robot             %s" % report["robot"])
    add("server version    %s (this client speaks %s)" % (report["server_version"], report["client_version"]))
    st = report["status"]
    if st["system_state"] is None:
        add("system state      unknown (no states sample within 1 s)")
    else:
        add("system state      %s" % fmt.system_state(st["system_state"]))
        add("safety board      %s" % fmt.safety_board_state(st["safety_board_state"]))
    add("e-stop            %s" % ("released" if st["estop_released"] else "PRESSED (not released)"))
    add("enabling device   %s" % ("on" if st["enabling_device_on"] else "off"))
    add("digital inputs    %s  on: %s" % (fmt.bits(st["digital_inputs"]), fmt.on_list(st["digital_inputs"])))
    add("digital outputs   %s  on: %s" % (fmt.bits(st["digital_outputs"]), fmt.on_list(st["digital_outputs"])))
    add("streams           " + describe("basic", meters["basic"], STALE_AFTER))
    add("                  " + describe("extra", meters["extra"], STALE_AFTER))
    h = meters["basic"].health
    if h.received:
        add("latest stamp      %s" % fmt.robot_time(h.robot_stamp))
    add("")
    add("joint groups")
    rows = [("group", "start", "DoF", "in the streams")]
    for g in report["groups"]:
        rows.append((g["group"], "-" if g["start"] is None else g["start"],
                     "-" if g["dof"] is None else fmt.dof(g["dof"]), "yes" if g["in_streams"] else "no"))
    lines += fmt.table(rows, "lrrl")
    add("")
    plan = report["plan"]
    if plan is None:
        add("plan              unavailable: %s" % report["errors"]["plan"])
    else:
        add("plan              %s" % (plan["assigned_plan_name"] or "(none assigned)"))
        add("  node            %s (primitive %s)" % (plan["node_name"], plan["pt_name"]))
        add("  node path       %s  time period %s  number %s"
            % (plan["node_path"], plan["node_path_time_period"], plan["node_path_number"]))
        add("  velocity scale  %.2f" % plan["velocity_scale"])
        add("  waiting         %s" % ("for a step from the operator" if plan["waiting_for_step"] else "no"))
    add("")
    prims = report["primitive_states"]
    if prims is None:
        add("primitive states  unavailable: %s" % report["errors"]["primitive_states"])
    else:
        add("primitive states")
        for group, p in prims.items():
            values = ", ".join("%s=%s" % (k, fmt.value(v)) for k, v in p["values"].items())
            add("  %-9s %s%s" % (group, p["primitive"], (": " + values) if values else ""))
        if not prims:
            add("  (none)")
    add("")
    scores = report["configuration_scores"]
    if scores is None:
        add("configuration scores  unavailable: %s" % report["errors"]["configuration_scores"])
    else:
        add("configuration scores (0..100: translation, rotation)")
        lines += fmt.table([(g, "%.0f" % a, "%.0f" % b) for g, (a, b) in scores.items()], "lrr")
        if not scores:
            add("  (none)")
    # names, paths and values are the robot's own text
    return [fmt.shown(line) for line in lines]


def run(args, log):
    name = robot.checked_serial(args.serial)
    robot.use_network(args)
    report, meters = gather(args.serial, name, args.verbose)
    if args.json:
        print(json.dumps(report, indent=2))
    else:
        print("\n".join(render(report, meters)))
    if report["errors"]:
        raise CliError("unanswered: %s" % ", ".join(report["errors"]), FAILED)
    return 0
