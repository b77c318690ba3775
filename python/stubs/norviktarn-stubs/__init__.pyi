"""Norvik Telemetry Access Relay Node (TARN): read-only access to a robot
controller's live data.

Units throughout: joint positions in rad, velocities in rad/s, torques in N·m
(their rates in N·m/s), temperatures in °C, positions in m. A pose is
[x, y, z, qw, qx, qy, qz] (quaternion order w x y z); a twist is
[vx, vy, vz, wx, wy, wz] in m/s and rad/s; a wrench is [fx, fy, fz, mx, my, mz]
in N and N·m. Time stamps are the robot's (seconds, nanoseconds). Poses have 7 entries,
twists and wrenches 6, digital inputs and outputs 20; assigning a list of
another length raises TypeError.

Errors of the library arrive as ValueError (bad arguments, a malformed serial
number) and RuntimeError (no robot, no reply, an incompatible server, a
closed client); their texts begin with the reporting class in brackets, such
as "[norvik::tarn::Client] ".
"""

from typing import Any, ClassVar, Optional, Union

import numpy as np
from numpy.typing import NDArray

__version__: str

class JointGroup:
    """The robot's joint groups. Members compare equal only to members (never
    to int); pickled as their integer value."""
    UNKNOWN: ClassVar[JointGroup]
    ALL: ClassVar[JointGroup]
    ARMS: ClassVar[JointGroup]
    ARM_1: ClassVar[JointGroup]
    ARM_2: ClassVar[JointGroup]
    EXT_AXIS: ClassVar[JointGroup]
    __members__: ClassVar[dict[str, JointGroup]]
    def __init__(self, value: int) -> None:
        """Any int; a value without a member is named "???"."""
    @property
    def value(self) -> int: ...
    @property
    def name(self) -> str: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...

UNKNOWN: JointGroup
ALL: JointGroup
ARMS: JointGroup
ARM_1: JointGroup
ARM_2: JointGroup
EXT_AXIS: JointGroup

class RobotStates:
    """Measured state of one joint group; lists have one entry per joint.
    Reading a field gives a copy; assigning replaces it (fixed-size lists must
    have their exact length, else TypeError)."""
    timestamp: tuple[int, int]
    """Robot time stamp (s, ns)."""
    q: list[float]
    """Joint positions on the link side, rad."""
    theta: list[float]
    """Joint positions as the motors measure them, rad."""
    dq: list[float]
    """Joint velocities on the link side, rad/s."""
    dtheta: list[float]
    """Joint velocities as the motors measure them, rad/s."""
    tau: list[float]
    """Measured joint torques, N·m."""
    tau_dot: list[float]
    """Rate of the joint torques, N·m/s."""
    tau_ext: list[float]
    """Estimated external joint torques, N·m."""
    tau_interact: list[float]
    """Estimated interaction joint torques, N·m."""
    temperature: list[float]
    """Joint temperatures, °C."""
    flange_pose: list[float]
    """Flange pose in the world frame: x, y, z in m, then quaternion w, x, y, z."""
    tcp_pose: list[float]
    """TCP pose in the world frame: x, y, z in m, then quaternion w, x, y, z."""
    tcp_twist: list[float]
    """TCP velocity: linear m/s, then angular rad/s."""
    tcp_wrench: list[float]
    """External wrench at the TCP in the world frame: force N, then moment N·m."""
    tcp_wrench_local: list[float]
    """External wrench at the TCP in the TCP frame: N, then N·m."""
    raw_tcp_wrench: list[float]
    """Unfiltered external TCP wrench in the world frame: N, then N·m."""
    raw_tcp_wrench_local: list[float]
    """Unfiltered external TCP wrench in the TCP frame: N, then N·m."""
    raw_ft_sensor: list[float]
    """Raw force-torque sensor reading: N, then N·m."""
    def __init__(self) -> None:
        """Zeros, empty lists, stamp (0, 0)."""

class RobotActions:
    """Commanded values of one joint group (same units as RobotStates)."""
    timestamp: tuple[int, int]
    """Robot time stamp (s, ns) of the measured sample this command goes with."""
    q_d: list[float]
    """Commanded joint positions, rad."""
    dq_d: list[float]
    """Commanded joint velocities, rad/s."""
    tau_d: list[float]
    """Commanded joint torques, N·m."""
    tcp_pose_d: list[float]
    """Commanded TCP pose: x, y, z in m, then quaternion w, x, y, z."""
    tcp_twist_d: list[float]
    """Commanded TCP velocity: m/s, then rad/s."""
    tcp_wrench_d: list[float]
    """Commanded TCP wrench: N, then N·m."""
    def __init__(self) -> None: ...

class PrimitiveStates:
    """The motion primitive running on one joint group and its named values."""
    pt_name: str
    names_and_values: dict[str, Union[int, float, str]]
    """A value keeps its kind: 3 and 3.0 differ."""
    def __init__(self) -> None: ...

class PlanInfo:
    """The plan the robot is executing."""
    pt_name: str
    node_name: str
    node_path: str
    node_path_time_period: str
    node_path_number: str
    assigned_plan_name: str
    velocity_scale: float
    """Velocity scale of the plan, as the robot reports it."""
    waiting_for_step: bool
    def __init__(self) -> None: ...

class Client:
    """One connected robot. Constructing it connects; it is closed by close(),
    by leaving a with-block, or when deleted. Methods may be called from
    several threads; while one waits on the network (the constructor,
    connected and the request-backed methods) other Python threads run. After
    close() every method but close and repr raises RuntimeError
    "[norvik::tarn::Client] The client is closed"."""
    def __init__(self, robot_sn: str, verbose: bool = True) -> None:
        """Connects to robot `robot_sn` ("Abc 4s-123" is used as
        "Abc-4s-123", see normalize_serial). Probes the robot up to three
        times, a second each, then asks for its version and joint layout
        (2 s time-out each). Raises ValueError for a malformed serial number,
        RuntimeError when the robot does not answer, its version differs from
        "v2.1" or a request fails."""
    def connected(self) -> bool:
        """One probe of the robot; False when it does not answer within 1 s."""
    def groups(self) -> dict[JointGroup, str]:
        """Joint groups named in the latest basic sample (read afresh);
        empty when the sample lists an invalid group. Never waits."""
    def states(self) -> dict[JointGroup, RobotStates]:
        """Latest measured state per joint group; empty when the sample is
        inconsistent. Never waits."""
    def actions(self) -> dict[JointGroup, RobotActions]:
        """Latest commanded values per joint group; empty when the sample is
        inconsistent. Never waits."""
    def primitive_states(self) -> dict[JointGroup, PrimitiveStates]:
        """Asks the robot (2 s time-out, up to six requests while its lists
        come corrupted). RuntimeError on no reply or malformed lists."""
    def configuration_score(self) -> dict[JointGroup, tuple[float, float]]:
        """Two manipulability scores between 0 and 100 per joint group.
        Asks the robot (2 s time-out); RuntimeError on no reply."""
    def plan_info(self) -> PlanInfo:
        """Asks the robot (2 s time-out); RuntimeError on no reply."""
    def estop_released(self) -> bool:
        """Emergency stop released, in the latest basic sample."""
    def enabling_device_on(self) -> bool:
        """Enabling device pressed, in the latest basic sample."""
    def digital_inputs(self) -> list[bool]:
        """The 20 digital inputs of the latest basic sample."""
    def digital_outputs(self) -> list[bool]:
        """The 20 digital outputs of the latest basic sample."""
    def __repr__(self) -> str:
        """Always "<norviktarn.Client>"."""
    def stream_health(self, stream: StreamKind) -> StreamHealth:
        """Counts, robot stamp and arrival time of the latest sample of a stream."""
    def start_sample_queues(self, capacity: int = 10000) -> None:
        """From now on keeps every sample of both streams, up to `capacity`
        each (the oldest go beyond that, counted in
        StreamHealth.queue_dropped). Again: no change. ValueError for 0."""
    def next_states(self, timeout: float) -> Optional[StatesSample]:
        """The oldest kept basic sample, waiting up to `timeout` seconds;
        None on time-out. RuntimeError before start_sample_queues()."""
    def next_actions(self, timeout: float) -> Optional[ActionsSample]:
        """The oldest kept extra sample, waiting up to `timeout` seconds;
        None on time-out. RuntimeError before start_sample_queues()."""
    def take_states(self, max_count: int, timeout: float) -> Optional[StatesBatch]:
        """Kept basic samples in columns: waits up to `timeout` seconds for
        the oldest, then takes without waiting those queued behind it, up to
        `max_count` in all, stopping before the first whose joint groups or
        DoF differ (it starts the next batch). The same samples, in the same
        order, as next_states would give. None on time-out. ValueError for a
        max_count of 0, RuntimeError before start_sample_queues(). Other
        Python threads run while it waits and fills."""
    def take_actions(self, max_count: int, timeout: float) -> Optional[ActionsBatch]:
        """Kept extra samples in columns, as take_states takes basic ones."""
    def server_version(self) -> str:
        """The robot's server version, as checked at connection ("v2.1")."""
    def layout(self) -> dict[JointGroup, tuple[int, int]]:
        """Start index in the robot's full joint vector and number of joints
        of every joint group, as reported at connection."""
    def system_state(self) -> int:
        """The controller's system state in the latest basic sample (0 before
        the first); system_state_name() names it."""
    def safety_board_state(self) -> int:
        """The safety board's state in the latest basic sample (0 before the
        first); safety_board_state_name() names it."""
    def close(self) -> None:
        """Disconnects. Closing again does nothing; a call still running on
        another thread finishes first."""
    def __enter__(self) -> Client: ...
    def __exit__(self, *args: Any) -> None:
        """Closes the client; exceptions pass on."""

class StreamKind:
    """The robot's two streams: measured state (BASIC), commanded values (EXTRA)."""
    BASIC: ClassVar[StreamKind]
    EXTRA: ClassVar[StreamKind]
    __members__: ClassVar[dict[str, StreamKind]]
    def __init__(self, value: int) -> None: ...
    @property
    def value(self) -> int: ...
    @property
    def name(self) -> str: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...

class Freshness:
    NEVER_RECEIVED: ClassVar[Freshness]
    LIVE: ClassVar[Freshness]
    STALE: ClassVar[Freshness]
    __members__: ClassVar[dict[str, Freshness]]
    def __init__(self, value: int) -> None: ...
    @property
    def value(self) -> int: ...
    @property
    def name(self) -> str: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...

class StreamHealth:
    @property
    def received(self) -> int:
        """Samples taken into the client."""
    @property
    def malformed(self) -> int:
        """Samples dropped because they did not decode."""
    @property
    def queue_dropped(self) -> int:
        """Queued samples lost because the queue was full."""
    @property
    def robot_stamp(self) -> tuple[int, int]:
        """Robot time stamp (s, ns) of the latest sample; (0, 0) before the first."""
    @property
    def last_received(self) -> Optional[float]:
        """Arrival of the latest sample on time.monotonic()'s clock, s; None before the first."""
    @property
    def age(self) -> Optional[float]:
        """Seconds since the latest sample; None before the first."""
    def freshness(self, stale_after: float = 0.1) -> Freshness:
        """LIVE when the latest sample is at most `stale_after` s old."""

class StatesSample:
    @property
    def index(self) -> int:
        """1 for the first sample this client took, then one more each."""
    @property
    def received_at(self) -> float:
        """Arrival on time.monotonic()'s clock, s."""
    @property
    def states(self) -> dict[JointGroup, RobotStates]: ...
    @property
    def system_state(self) -> int: ...
    @property
    def safety_board_state(self) -> int: ...
    @property
    def estop_released(self) -> bool: ...
    @property
    def enabling_device_on(self) -> bool: ...
    @property
    def digital_inputs(self) -> list[bool]: ...
    @property
    def digital_outputs(self) -> list[bool]: ...

class ActionsSample:
    @property
    def index(self) -> int: ...
    @property
    def received_at(self) -> float:
        """Arrival on time.monotonic()'s clock, s."""
    @property
    def actions(self) -> dict[JointGroup, RobotActions]: ...

class GroupStatesColumns:
    """One joint group's measured state over the n samples of a StatesBatch:
    row i is sample i. Units as in RobotStates. The arrays are writable and
    belong to the batch (no copy of the library's data is made)."""
    @property
    def dof(self) -> int:
        """Joints of the group (0 for a group with Cartesian data only)."""
    @property
    def timestamp(self) -> NDArray[np.int32]:
        """(n, 2): robot time stamps (s, ns)."""
    @property
    def q(self) -> NDArray[np.float64]:
        """(n, dof): joint positions on the link side, rad."""
    @property
    def theta(self) -> NDArray[np.float64]:
        """(n, dof): joint positions on the motor side, rad."""
    @property
    def dq(self) -> NDArray[np.float64]:
        """(n, dof): link-side velocities, rad/s."""
    @property
    def dtheta(self) -> NDArray[np.float64]:
        """(n, dof): motor-side velocities, rad/s."""
    @property
    def tau(self) -> NDArray[np.float64]:
        """(n, dof): measured torques, N·m."""
    @property
    def tau_dot(self) -> NDArray[np.float64]:
        """(n, dof): torque rates, N·m/s."""
    @property
    def tau_ext(self) -> NDArray[np.float64]:
        """(n, dof): estimated external torques, N·m."""
    @property
    def tau_interact(self) -> NDArray[np.float64]:
        """(n, dof): interaction torques, N·m."""
    @property
    def temperature(self) -> NDArray[np.float64]:
        """(n, dof): joint temperatures, °C."""
    @property
    def flange_pose(self) -> NDArray[np.float64]:
        """(n, 7): flange poses [x, y, z, qw, qx, qy, qz], m."""
    @property
    def tcp_pose(self) -> NDArray[np.float64]:
        """(n, 7): TCP poses [x, y, z, qw, qx, qy, qz], m."""
    @property
    def tcp_twist(self) -> NDArray[np.float64]:
        """(n, 6): TCP twists, m/s and rad/s."""
    @property
    def tcp_wrench(self) -> NDArray[np.float64]:
        """(n, 6): external TCP wrenches in the world frame, N and N·m."""
    @property
    def tcp_wrench_local(self) -> NDArray[np.float64]:
        """(n, 6): external TCP wrenches in the TCP frame, N and N·m."""
    @property
    def raw_tcp_wrench(self) -> NDArray[np.float64]:
        """(n, 6): raw TCP wrenches in the world frame, N and N·m."""
    @property
    def raw_tcp_wrench_local(self) -> NDArray[np.float64]:
        """(n, 6): raw TCP wrenches in the TCP frame, N and N·m."""
    @property
    def raw_ft_sensor(self) -> NDArray[np.float64]:
        """(n, 6): raw force-torque sensor readings, N and N·m."""

class StatesBatch:
    """n basic samples in columns (Client.take_states); row i of every array
    is sample i, as StatesSample gives it. Arrays are writable."""
    @property
    def count(self) -> int:
        """n, at least 1."""
    @property
    def index(self) -> NDArray[np.uint64]:
        """(n,): the samples' indices, as StatesSample.index."""
    @property
    def received_at(self) -> NDArray[np.float64]:
        """(n,): arrivals on time.monotonic()'s clock, s, as StatesSample.received_at."""
    @property
    def states(self) -> dict[JointGroup, GroupStatesColumns]:
        """The same joint groups in every sample of the batch."""
    @property
    def system_state(self) -> NDArray[np.uint16]:
        """(n,)"""
    @property
    def safety_board_state(self) -> NDArray[np.int16]:
        """(n,)"""
    @property
    def estop_released(self) -> NDArray[np.bool_]:
        """(n,)"""
    @property
    def enabling_device_on(self) -> NDArray[np.bool_]:
        """(n,)"""
    @property
    def digital_inputs(self) -> NDArray[np.bool_]:
        """(n, 20)"""
    @property
    def digital_outputs(self) -> NDArray[np.bool_]:
        """(n, 20)"""

class GroupActionsColumns:
    """One joint group's commanded values over the n samples of an
    ActionsBatch: row i is sample i. Units as in RobotActions. Writable."""
    @property
    def dof(self) -> int:
        """Joints of the group (0 for a group with Cartesian data only)."""
    @property
    def timestamp(self) -> NDArray[np.int32]:
        """(n, 2): the basic stream's time stamp (s, ns) when each arrived."""
    @property
    def q_d(self) -> NDArray[np.float64]:
        """(n, dof): commanded joint positions, rad."""
    @property
    def dq_d(self) -> NDArray[np.float64]:
        """(n, dof): commanded joint velocities, rad/s."""
    @property
    def tau_d(self) -> NDArray[np.float64]:
        """(n, dof): commanded joint torques, N·m."""
    @property
    def tcp_pose_d(self) -> NDArray[np.float64]:
        """(n, 7): commanded TCP poses [x, y, z, qw, qx, qy, qz], m."""
    @property
    def tcp_twist_d(self) -> NDArray[np.float64]:
        """(n, 6): commanded TCP twists, m/s and rad/s."""
    @property
    def tcp_wrench_d(self) -> NDArray[np.float64]:
        """(n, 6): commanded TCP wrenches, N and N·m."""

class ActionsBatch:
    """n extra samples in columns (Client.take_actions); row i of every array
    is sample i, as ActionsSample gives it. Arrays are writable."""
    @property
    def count(self) -> int:
        """n, at least 1."""
    @property
    def index(self) -> NDArray[np.uint64]:
        """(n,): the samples' indices, as ActionsSample.index."""
    @property
    def received_at(self) -> NDArray[np.float64]:
        """(n,): arrivals on time.monotonic()'s clock, s."""
    @property
    def actions(self) -> dict[JointGroup, GroupActionsColumns]:
        """The same joint groups in every sample of the batch."""

def use_zenoh_config(file: Optional[str] = None, *, json5: Optional[str] = None,
                     connect: Optional[list[str]] = None, mode: str = "client") -> None:
    """Chooses the Zenoh configuration of the process's next session: a file,
    JSON5 text, or endpoints to connect to (mode "client" or "peer"); none of
    them: the file ZENOH_CONFIG names, else Zenoh's defaults. TypeError for
    more than one; ValueError for a bad mode or configuration; RuntimeError
    while a session is open."""

def zenoh_config() -> str:
    """What the next session opens with, in words."""

def zenoh_session_open() -> bool:
    """True while the process's Zenoh session is open."""

class RobotInfo:
    @property
    def serial(self) -> str:
        """Normalised, as in the robot's keys."""
    @property
    def server_version(self) -> str:
        """As the robot reports it; empty when it reported none."""

def list_robots(timeout: float = 2.0) -> list[RobotInfo]:
    """Every robot that answers within `timeout` seconds (0 to 3600, else
    ValueError); waits the whole time-out."""

def normalize_serial(text: str) -> str:
    """The serial number as Client uses it in every key: "Abc 4s-123" gives
    "Abc-4s-123". ValueError "[norvik::tarn::Client] Format of the provided
    robot serial number is invalid" otherwise, as the Client constructor."""

def system_state_name(code: int) -> Optional[str]:
    """"WORKING_AUTO_EXECUTE" for 7; None for a code without a name.
    TypeError outside 0..65535."""

def safety_board_state_name(code: int) -> Optional[str]:
    """"NORMAL" for 12; None for a code without a name (the codes are
    sparse). TypeError outside -32768..32767."""

def system_state_names() -> dict[int, str]:
    """Every named system state, by code in ascending order."""

def safety_board_state_names() -> dict[int, str]:
    """Every named safety-board state, by code in ascending order."""

def log_to_python() -> None:
    """Sends the library's log lines to logging.getLogger("norviktarn")
    (debug, info, warning, error, critical map to logging's levels; every
    line from debug up is passed, the logger's level filters). A daemon
    thread hands them over; the library's threads never wait for Python.
    Lines beyond 10000 waiting are dropped and counted (log_lines_dropped).
    At exit the remaining lines are passed on and standard output is the
    route again."""

def silence_log() -> None:
    """The library logs nothing."""

def log_to_stdout() -> None:
    """Back to the default: the library's lines on standard output."""

def log_backlog() -> int:
    """Lines waiting to be handed to logging."""

def log_lines_dropped() -> int:
    """Lines lost because too many were waiting for logging."""
