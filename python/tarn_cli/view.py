"""The watch view as lines of text: the same for the terminal screen and for plain snapshots."""

import time

from . import fmt
from .health import describe

LABEL = 8   # width of a row label ("  temp  ")
CELL = 9    # width of one joint's number


def _joint_rows(state, width):
    """q, dq, tau and temperature, joints across; wrapped when the group is wider than the screen."""
    n = len(state.q)
    per_line = max(1, (width - LABEL) // CELL)
    rows = []
    for first in range(0, max(n, 1), per_line):
        last = min(n, first + per_line)
        rows.append("  joint " + "".join("%*d" % (CELL, j + 1) for j in range(first, last)))
        for label, values, form in (("q", state.q, "%*.4f"), ("dq", state.dq, "%*.4f"),
                                    ("tau", state.tau, "%*.3f"), ("temp", state.temperature, "%*.1f")):
            rows.append(("  %-6s" % label) + "".join(form % (CELL, v) for v in values[first:last]))
    return rows


def group_block(group, state, width):
    lines = ["%s  %d joint%s" % (group.name, len(state.q), "" if len(state.q) == 1 else "s")]
    lines += _joint_rows(state, width)
    p = state.tcp_pose
    lines.append("  tcp    xyz %7.3f %7.3f %7.3f   wxyz %6.3f %6.3f %6.3f %6.3f" % tuple(p))
    w = state.tcp_wrench
    lines.append("  wrench F   %7.2f %7.2f %7.2f   M  %7.3f %7.3f %7.3f   (world frame)" % tuple(w))
    return lines


def render(snap, width, group_filter=None, keys_hint=True):
    """Lines for one snapshot (a watch.Snapshot)."""
    out = []
    head = "tarn watch %s   %s" % (snap.robot, time.strftime("%H:%M:%S", time.localtime(snap.wall_time)))
    basic = snap.meters["basic"]
    freshness = basic.freshness(snap.stale_after)
    if freshness == "STALE":
        head += "   STALE: no states sample for %s" % fmt.age(basic.health.age)
    elif freshness == "NEVER_RECEIVED":
        head += "   no states sample yet"
    if keys_hint:
        head += "   [q quit, g groups: %s]" % (group_filter.name if group_filter is not None else "all")
    out.append(head)

    s = snap.sample
    if s is not None:
        out.append("system %s   safety board %s" % (fmt.system_state(s.system_state),
                                                      fmt.safety_board_state(s.safety_board_state)))
        out.append("e-stop %s   enabling device %s" % ("released" if s.estop_released else "PRESSED",
                                                       "on" if s.enabling_device_on else "off"))
        out.append("DI %s   DO %s" % (fmt.bits(s.digital_inputs), fmt.bits(s.digital_outputs)))
    else:
        out.append("system, e-stop and I/O: no sample yet")
    if snap.plan is not None:
        p = snap.plan
        out.append("plan %s   node %s (%s)   velocity scale %.2f%s" % (
            p.assigned_plan_name or "(none)", p.node_name, p.pt_name, p.velocity_scale,
            "   WAITING for a step" if p.waiting_for_step else ""))
    else:
        out.append("plan: %s" % (snap.plan_error or "not asked yet"))
    out.append("streams  " + describe("basic", snap.meters["basic"], snap.stale_after))
    out.append("         " + describe("extra", snap.meters["extra"], snap.stale_after))
    if s is not None:
        for group, state in s.states.items():
            if group_filter is not None and group != group_filter:
                continue
            out.append("")
            out += group_block(group, state, width)
        if not s.states:
            out.append("")
            out.append("(the latest states sample was inconsistent: no joint data)")
    if snap.log_line:
        out.append("")
        out.append("log: " + snap.log_line)
    # the plan's names and the library's lines may carry the robot's own text
    return [fmt.shown(line) for line in out]
