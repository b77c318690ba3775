"""Answers the robot's data requests, consistently with what the streams show.

Each request code has its own answer; content faults (wrong version, bad
start IDs, short vectors, bad primitive states, bad plan info) change what
that answer says, delivery faults (drop, error, fail, wrong-id, delay)
change how, or whether, it is sent.
"""

import math
import sys
import threading

from zenoh.ext import z_serialize

from . import plan, wire
from .groups import ARM_1, ARM_2, ARMS, EXT_AXIS

PROBE = 0
VERSION = 1
PRIMITIVE_STATES = 3
PLAN_INFO = 4
MANIPULABILITY = 9
START_ID_AND_DOF = 10
CODES = (PROBE, VERSION, PRIMITIVE_STATES, PLAN_INFO, MANIPULABILITY, START_ID_AND_DOF)


def _f(x):
    # always with a decimal point, so a client types it as a float, never an int
    return "%.4f" % x


class Answers:
    """The good answer to every request, with content faults applied."""

    def __init__(self, profile, robot, board):
        self.profile = profile
        self.robot = robot
        self.board = board

    def answer(self, request_id, groups, t):
        """Keyword arguments of wire.encode_reply for the answer at time t."""
        s = self.board.get()
        if request_id == PROBE:
            # a live robot answers the probe with success false
            return dict(request_id=PROBE, success=False)
        if request_id == VERSION:
            version = s["version_reply"]
            return dict(request_id=VERSION, success=True, strings=[] if version is None else [version])
        if request_id == PRIMITIVE_STATES:
            return dict(request_id=request_id, success=True, strings=self.primitive_states(t, s))
        if request_id == PLAN_INFO:
            return dict(request_id=request_id, success=True, strings=self.plan_info(t, s))
        if request_id == MANIPULABILITY:
            g, rows = self.manipulability(t, s)
            return dict(request_id=request_id, success=True, joint_groups=g, float2d=rows)
        if request_id == START_ID_AND_DOF:
            return self.start_ids(groups, s)
        return dict(request_id=request_id, success=False)

    # -- code 3 -------------------------------------------------------------

    def _group_entries(self, group, point, q):
        node = point.node
        reached = 1 if node.primitive == "Hold" or point.progress >= 1.0 else 0
        head = ["jointGroup = %d" % group]
        if group == ARMS:
            lag = abs(q[0] + q[7]) if self.profile.arms > 1 else 0.0  # mirrored: sum is the error
            return head + [
                "primitiveName = SyncArms",
                "leader = ARM_1",
                "synced = %d" % (1 if lag < 0.01 else 0),
                "syncError = " + _f(lag),
                "cycleCount = %d" % point.cycle,
            ]
        if group == EXT_AXIS:
            moving = node.axis_target != point.previous.axis_target
            return head + [
                "primitiveName = " + ("MoveAxis" if moving else "Hold"),
                "reachedTarget = %d" % (0 if moving and point.progress < 1.0 else 1),
                "position = " + _f(q[-1]),
                "target = " + _f(node.axis_target),
            ]
        entries = head + [
            "primitiveName = " + node.primitive,
            "reachedTarget = %d" % reached,
            "timePeriod = " + _f(point.elapsed),
            "targetName = " + node.arm_target,
            "cycleCount = %d" % point.cycle,
        ]
        if node.primitive == "Contact":
            entries.append("contactForce = " + _f(8.0 * math.sin(math.pi * point.progress)))
        elif node.primitive == "Hold":
            entries.append("holdTime = " + _f(point.elapsed))
        else:
            entries.append("progress = " + _f(point.progress))
        return entries

    def primitive_states(self, t, s):
        point, q, _ = self.robot.joints(t)
        blocks = [self._group_entries(g, point, q) for g in self.profile.listed]
        fault = s["primitive"]
        if fault == "missing-marker":
            blocks[0] = blocks[0][1:]
        elif fault == "duplicate-marker":
            blocks.append(list(blocks[0]))
        elif fault is not None and fault.startswith("unknown-group"):
            _, _, arg = fault.partition(":")
            group = int(arg) if arg else self.profile.missing_group()
            blocks.append(["jointGroup = %d" % group, "primitiveName = Idle", "reachedTarget = 1"])
        entries = [e for b in blocks for e in b]
        if self.board.take_corrupt():
            entries.insert(min(2, len(entries)), "")
        return entries

    # -- code 4 -------------------------------------------------------------

    def plan_info(self, t, s):
        point = plan.at(t)
        node = point.node
        info = [
            node.primitive,
            node.name,
            plan.node_path(point),
            "%.3f" % point.elapsed,
            plan.node_path_number(point),
            plan.PLAN_NAME,
            repr(node.velocity_scale),
            "1" if node.waiting else "0",
        ]
        fault = s["plan"]
        if fault == "short":
            info = info[:7]
        elif fault == "long":
            info.append("Cycle")
        elif fault == "bad-velocity":
            info[6] = "abc"
        return info

    # -- code 9 -------------------------------------------------------------

    def manipulability(self, t, s):
        arms, axis = self.robot.manipulability(t)
        rows = []
        for g in self.profile.listed:
            if g == ARM_1:
                m = arms[0]
            elif g == ARM_2:
                m = arms[1]
            elif g == ARMS:
                m = tuple(min(v) for v in zip(*arms))  # the pair is as good as its worse arm
            else:
                m = axis
            # packed: group, DoF, then the six measures
            rows.append([float(g), float(self.profile.group_dof(g))] + list(m))
        groups = list(self.profile.listed)
        fault = s["manipulability"]
        if fault == "short" and rows:
            rows[0] = rows[0][:7]
        elif fault == "size-mismatch":
            rows = rows[:-1] if rows else [[0.0] * 8]
        return groups, rows

    # -- code 10 ------------------------------------------------------------

    def start_ids(self, groups, s):
        layout = self.profile.layout
        if any(g not in layout for g in groups):
            return dict(request_id=START_ID_AND_DOF, success=False)
        starts = [layout[g][0] for g in groups]
        dofs = [float(layout[g][1]) for g in groups]
        fault = s["start_id"]
        if fault == "size-mismatch":
            dofs.append(0.0)
        elif groups and fault == "negative-dof":
            dofs[0] = -1.0
        elif groups and fault == "nan-dof":
            dofs[0] = float("nan")
        elif groups and fault == "inf-dof":
            dofs[0] = float("inf")
        elif groups and fault == "negative-start":
            starts[0] = -1
        return dict(request_id=START_ID_AND_DOF, success=True, joint_groups=list(groups), ints=starts, floats=dofs)


def apply_delivery(fields, mode):
    """Reply fields as a delivery fault leaves them (fail, wrong-id)."""
    if mode == "fail":
        fields = dict(fields, success=not fields["success"])
    elif mode == "wrong-id":
        fields = dict(fields, request_id=(fields["request_id"] + 1) & 0xFFFF)
    return fields


class RpcService:
    """The queryable's callback: decode, answer, deliver (or not)."""

    def __init__(self, answers, board, clock, key):
        self.answers = answers
        self.board = board
        self.clock = clock
        self.key = key
        self.handled = 0
        self._lock = threading.Lock()
        self._pending = {}  # timer -> query, for delayed replies
        self._closed = False

    def __call__(self, query):
        try:
            self._handle(query)
        except Exception as e:  # a bad request must never take the service down
            print("tarn-sim: request failed: %r" % (e,), file=sys.stderr)
            try:
                query.reply_err(z_serialize("internal error"))
                query.drop()
            except Exception:
                pass

    def _handle(self, query):
        with self._lock:
            self.handled += 1
        if query.payload is None:
            query.reply_err(z_serialize("request without payload"))
            query.drop()
            return
        try:
            request_id, groups = wire.decode_request(query.payload)
        except wire.WireError as e:
            query.reply_err(z_serialize("malformed request: %s" % e))
            query.drop()
            return
        fields = self.answers.answer(request_id, groups, self.clock())
        mode = self.board.get()["rpc"].get(str(request_id))
        if mode == "drop":
            query.drop()
            return
        if mode == "error":
            query.reply_err(z_serialize("simulated failure of request %d" % request_id))
            query.drop()
            return
        fields = apply_delivery(fields, mode)
        payload = wire.encode_reply(**fields)
        if mode and mode.startswith("delay:"):
            self._later(query, payload, float(mode[6:]) / 1000.0)
            return
        query.reply(self.key, payload, encoding=wire.ENCODING)
        # finalizers may run late; end the query as soon as it is answered
        query.drop()

    def _later(self, query, payload, delay):
        timer = None

        def send():
            with self._lock:
                if self._pending.pop(timer, None) is None:
                    return  # closed meanwhile
            try:
                query.reply(self.key, payload, encoding=wire.ENCODING)
            except Exception as e:  # the querier may be long gone
                print("tarn-sim: late reply not sent: %r" % (e,), file=sys.stderr)
            finally:
                query.drop()

        timer = threading.Timer(delay, send)
        timer.daemon = True
        with self._lock:
            if self._closed:
                query.drop()
                return
            self._pending[timer] = query
        timer.start()

    def close(self):
        """Cancel delayed replies; their queries end without an answer."""
        with self._lock:
            self._closed = True
            pending, self._pending = self._pending, {}
        for timer, query in pending.items():
            timer.cancel()
            try:
                query.drop()
            except Exception:
                pass
