"""What a user sees on import: names, order, signatures, and the shared library."""

import os

import pytest

from tarn_py_support import BUILD_DIR

RECORD_ATTRIBUTES = {
    "RobotStates": [
        ("timestamp", "tuple[int, int]"),
        *[(name, "list[float]") for name in
          ("q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature")],
        ("flange_pose", "Annotated[list[float], FixedSize(7)]"),
        ("tcp_pose", "Annotated[list[float], FixedSize(7)]"),
        *[(name, "Annotated[list[float], FixedSize(6)]") for name in
          ("tcp_twist", "tcp_wrench", "tcp_wrench_local", "raw_tcp_wrench", "raw_tcp_wrench_local", "raw_ft_sensor")],
    ],
    "RobotActions": [
        ("timestamp", "tuple[int, int]"),
        ("q_d", "list[float]"),
        ("dq_d", "list[float]"),
        ("tau_d", "list[float]"),
        ("tcp_pose_d", "Annotated[list[float], FixedSize(7)]"),
        ("tcp_twist_d", "Annotated[list[float], FixedSize(6)]"),
        ("tcp_wrench_d", "Annotated[list[float], FixedSize(6)]"),
    ],
    "PrimitiveStates": [
        ("pt_name", "str"),
        ("names_and_values", "dict[str, Union[int, float, str]]"),
    ],
    "PlanInfo": [
        *[(name, "str") for name in ("pt_name", "node_name", "node_path", "node_path_time_period",
                                     "node_path_number", "assigned_plan_name")],
        ("velocity_scale", "float"),
        ("waiting_for_step", "bool"),
    ],
}

CLIENT_METHODS = [
    ("__init__", "__init__(self: norviktarn.Client, robot_sn: str, verbose: bool = True) -> None"),
    ("connected", "connected(self: norviktarn.Client) -> bool"),
    ("groups", "groups(self: norviktarn.Client) -> dict[norviktarn.JointGroup, str]"),
    ("states", "states(self: norviktarn.Client) -> dict[norviktarn.JointGroup, norviktarn.RobotStates]"),
    ("actions", "actions(self: norviktarn.Client) -> dict[norviktarn.JointGroup, norviktarn.RobotActions]"),
    ("primitive_states",
     "primitive_states(self: norviktarn.Client) -> dict[norviktarn.JointGroup, norviktarn.PrimitiveStates]"),
    ("configuration_score",
     "configuration_score(self: norviktarn.Client) -> dict[norviktarn.JointGroup, tuple[float, float]]"),
    ("plan_info", "plan_info(self: norviktarn.Client) -> norviktarn.PlanInfo"),
    ("estop_released", "estop_released(self: norviktarn.Client) -> bool"),
    ("enabling_device_on", "enabling_device_on(self: norviktarn.Client) -> bool"),
    ("digital_inputs", "digital_inputs(self: norviktarn.Client) -> Annotated[list[bool], FixedSize(20)]"),
    ("digital_outputs", "digital_outputs(self: norviktarn.Client) -> Annotated[list[bool], FixedSize(20)]"),
    ("__repr__", "__repr__(self: norviktarn.Client) -> str"),
    # additions after the specified members: stream health and sample queues
    ("stream_health", "stream_health(self: norviktarn.Client, stream: norviktarn.StreamKind) -> norviktarn.StreamHealth"),
    ("start_sample_queues", "start_sample_queues(self: norviktarn.Client, capacity: int = 10000) -> None"),
    ("next_states", "next_states(self: norviktarn.Client, timeout: float) -> Optional[norviktarn.StatesSample]"),
    ("next_actions", "next_actions(self: norviktarn.Client, timeout: float) -> Optional[norviktarn.ActionsSample]"),
    # what the client learned at connection
    ("server_version", "server_version(self: norviktarn.Client) -> str"),
    ("layout", "layout(self: norviktarn.Client) -> dict[norviktarn.JointGroup, tuple[int, int]]"),
    # the latest sample's states, and closing
    ("system_state", "system_state(self: norviktarn.Client) -> int"),
    ("safety_board_state", "safety_board_state(self: norviktarn.Client) -> int"),
    ("close", "close(self: norviktarn.Client) -> None"),
    # queued samples in columns
    ("take_states",
     "take_states(self: norviktarn.Client, max_count: int, timeout: float) -> Optional[norviktarn.StatesBatch]"),
    ("take_actions",
     "take_actions(self: norviktarn.Client, max_count: int, timeout: float) -> Optional[norviktarn.ActionsBatch]"),
]

# Module names after list_robots: serial numbers, state names, the log route.
SURFACE_ADDITIONS = ["normalize_serial", "system_state_name", "safety_board_state_name", "system_state_names",
                     "safety_board_state_names", "log_to_python", "silence_log", "log_to_stdout", "log_backlog",
                     "log_lines_dropped",
                     # queued samples in columns
                     "GroupStatesColumns", "StatesBatch", "GroupActionsColumns", "ActionsBatch"]


def own_names(cls, keep=("__init__", "__repr__")):
    # what the class itself declares, in declaration order, without pybind11's internals
    return [k for k in vars(cls) if not k.startswith("_") or k in keep]


def test_module_doc(norviktarn):
    assert norviktarn.__doc__ == "Norvik Telemetry Access Relay Node (TARN)"


def test_public_names_in_registration_order(norviktarn):
    names = [k for k in vars(norviktarn) if not k.startswith("_")]
    assert names == ["JointGroup", "UNKNOWN", "ALL", "ARMS", "ARM_1", "ARM_2", "EXT_AXIS",
                     "RobotStates", "RobotActions", "PrimitiveStates", "PlanInfo", "Client",
                     # additions after the specified names
                     "StreamKind", "Freshness", "StreamHealth", "StatesSample", "ActionsSample",
                     "use_zenoh_config", "zenoh_config", "zenoh_session_open", "RobotInfo", "list_robots",
                     *SURFACE_ADDITIONS]


def test_exported_members_are_the_enum_members(norviktarn):
    for name in ("UNKNOWN", "ALL", "ARMS", "ARM_1", "ARM_2", "EXT_AXIS"):
        assert getattr(norviktarn, name) is getattr(norviktarn.JointGroup, name)


@pytest.mark.parametrize("cls_name", list(RECORD_ATTRIBUTES))
def test_record_attributes_in_order_with_their_types(norviktarn, cls_name):
    cls = getattr(norviktarn, cls_name)
    expected = RECORD_ATTRIBUTES[cls_name]
    assert own_names(cls) == ["__init__"] + [name for name, _ in expected]
    for name, type_text in expected:
        prop = vars(cls)[name]
        assert isinstance(prop, property)
        assert prop.fget.__doc__ == "(self: norviktarn.%s) -> %s\n" % (cls_name, type_text)
        assert prop.fset.__doc__ == "(self: norviktarn.%s, arg0: %s) -> None\n" % (cls_name, type_text)


@pytest.mark.parametrize("cls_name", list(RECORD_ATTRIBUTES))
def test_record_constructor_takes_no_arguments(norviktarn, cls_name):
    cls = getattr(norviktarn, cls_name)
    assert cls.__init__.__doc__ == "__init__(self: norviktarn.%s) -> None\n" % cls_name
    with pytest.raises(TypeError, match=r"incompatible constructor arguments"):
        cls(1)


@pytest.mark.parametrize("cls_name", list(RECORD_ATTRIBUTES) + ["Client"])
def test_classes_have_no_docstring_and_default_repr(norviktarn, cls_name):
    cls = getattr(norviktarn, cls_name)
    assert cls.__doc__ is None
    assert cls.__module__ == "norviktarn"
    if cls_name != "Client":
        assert "__repr__" not in vars(cls)
        assert repr(cls()).startswith("<norviktarn.%s object at 0x" % cls_name)


def test_client_methods_in_order_with_signatures(norviktarn):
    cls = norviktarn.Client
    assert own_names(cls) == [name for name, _ in CLIENT_METHODS]
    for name, signature in CLIENT_METHODS:
        member = vars(cls)[name]
        assert not isinstance(member, property), name
        assert getattr(cls, name).__doc__ == signature + "\n"


def test_joint_group_signatures(norviktarn):
    jg = norviktarn.JointGroup
    assert jg.__init__.__doc__ == "__init__(self: norviktarn.JointGroup, value: int) -> None\n"
    assert jg.__setstate__.__doc__ == "__setstate__(self: norviktarn.JointGroup, state: int) -> None\n"
    assert jg.__int__.__doc__ == "__int__(self: norviktarn.JointGroup) -> int\n"
    assert jg.__index__.__doc__ == "__index__(self: norviktarn.JointGroup) -> int\n"
    assert jg.value.fget.__doc__ == "(arg0: norviktarn.JointGroup) -> int\n"
    assert jg.value.fset is None
    # pybind11's generated enum docstring lists the members in order
    assert jg.__doc__ == "Members:\n\n  UNKNOWN\n\n  ALL\n\n  ARMS\n\n  ARM_1\n\n  ARM_2\n\n  EXT_AXIS"


@pytest.mark.parametrize("cls_name", list(RECORD_ATTRIBUTES))
def test_records_reject_unknown_attributes(norviktarn, cls_name):
    record = getattr(norviktarn, cls_name)()
    message = "'norviktarn.%s' object has no attribute 'velocity'" % cls_name
    with pytest.raises(AttributeError) as err:
        record.velocity = 1.0
    assert str(err.value) == message
    with pytest.raises(AttributeError) as err:
        record.velocity
    assert str(err.value) == message
    assert not hasattr(record, "__dict__")


def test_module_uses_the_projects_shared_library(norviktarn):
    # One copy of each library in the process, loaded from the build tree: the
    # module holds no private copy, so it shares the C++ library's Zenoh session.
    mapped = set()
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(None, 5)
            # a library rebuilt while this process runs shows as "<path> (deleted)"
            path = fields[5].strip().removesuffix(" (deleted)") if len(fields) == 6 else ""
            if os.path.basename(path).startswith("libnorvik_"):
                mapped.add(path)
    lib = BUILD_DIR / "lib"
    assert mapped == {os.path.realpath(lib / "libnorvik_tarn.so.2"), os.path.realpath(lib / "libnorvik_zenoh.so")}
