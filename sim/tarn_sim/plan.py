"""The pick-and-place plan the simulated robot runs, over and over.

Everything that moves is derived from the position in this plan at a given
time, so the streams, the plan-info reply and the primitive states always
tell the same story.
"""

from dataclasses import dataclass

PLAN_NAME = "PickAndPlace"
SEQUENCE_NAME = "Cycle"


@dataclass(frozen=True)
class Node:
    name: str
    primitive: str        # primitive of each arm
    duration: float       # seconds
    arm_target: str       # waypoint the arms reach at the end of the node
    axis_target: float    # external-axis position (m) at the end of the node
    gripper: bool         # gripper closed during the node
    waiting: bool = False  # the plan waits for an operator step
    reduced: bool = False  # safety board runs in reduced mode (contact work)
    velocity_scale: float = 0.5


NODES = (
    Node("Home", "MoveJ", 2.0, "home", 0.0, False),
    Node("Approach", "MoveL", 1.5, "above_pick", 0.0, False),
    Node("Pick", "MoveL", 1.0, "pick", 0.0, False, velocity_scale=0.25),
    Node("Grasp", "Hold", 0.5, "pick", 0.0, True),
    Node("Lift", "MoveL", 1.0, "above_pick", 0.0, True, velocity_scale=0.25),
    Node("Transfer", "MoveJ", 2.0, "above_place", 0.8, True),
    Node("Place", "Contact", 1.5, "place", 0.8, True, reduced=True, velocity_scale=0.1),
    Node("Release", "Hold", 0.5, "place", 0.8, False),
    Node("Retreat", "MoveL", 1.0, "above_place", 0.8, False, velocity_scale=0.25),
    Node("WaitForOperator", "Hold", 1.0, "above_place", 0.8, False, waiting=True),
)

_STARTS = []
_t = 0.0
for _node in NODES:
    _STARTS.append(_t)
    _t += _node.duration
CYCLE = _t
del _t, _node


@dataclass(frozen=True)
class PlanPoint:
    cycle: int      # completed cycles
    index: int      # node index within the cycle
    node: Node
    previous: Node  # node before this one (its targets are where this one starts)
    elapsed: float  # seconds spent in this node
    progress: float  # 0..1 through this node


def at(t):
    """Where the plan is at simulation time t (seconds, t >= 0)."""
    if t < 0.0:
        t = 0.0
    cycle, local = divmod(t, CYCLE)
    index = len(NODES) - 1
    for i, start in enumerate(_STARTS):
        if local < start:
            index = i - 1
            break
    node = NODES[index]
    elapsed = local - _STARTS[index]
    progress = min(1.0, max(0.0, elapsed / node.duration))
    return PlanPoint(int(cycle), index, node, NODES[index - 1], elapsed, progress)


def node_path(point):
    return "%s/%s/%s" % (PLAN_NAME, SEQUENCE_NAME, point.node.name)


def node_path_number(point):
    # indices along node_path: plan root, sequence, node
    return "0/0/%d" % point.index
