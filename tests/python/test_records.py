"""The four records as values: defaults, copies on read, conversion on write."""

import copy
import pickle

import pytest

LISTS = {
    "RobotStates": ["q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature"],
    "RobotActions": ["q_d", "dq_d", "tau_d"],
}
ARRAYS = {
    "RobotStates": {"flange_pose": 7, "tcp_pose": 7, "tcp_twist": 6, "tcp_wrench": 6, "tcp_wrench_local": 6,
                    "raw_tcp_wrench": 6, "raw_tcp_wrench_local": 6, "raw_ft_sensor": 6},
    "RobotActions": {"tcp_pose_d": 7, "tcp_twist_d": 6, "tcp_wrench_d": 6},
}
PLAN_TEXTS = ["pt_name", "node_name", "node_path", "node_path_time_period", "node_path_number",
              "assigned_plan_name"]
INT32_MAX = 2**31 - 1


def exact(value):
    """The value with the type of every element spelled out, so 1 and 1.0 (and True) differ."""
    if isinstance(value, (list, tuple)):
        return type(value), [exact(v) for v in value]
    if isinstance(value, dict):
        return dict, [(exact(k), exact(v)) for k, v in value.items()]
    return type(value), value


# -- defaults ------------------------------------------------------------------


@pytest.mark.parametrize("cls_name", ["RobotStates", "RobotActions"])
def test_motion_record_defaults(norviktarn, cls_name):
    record = getattr(norviktarn, cls_name)()
    assert exact(record.timestamp) == exact((0, 0))
    for name in LISTS[cls_name]:
        assert exact(getattr(record, name)) == exact([]), name
    for name, size in ARRAYS[cls_name].items():
        assert exact(getattr(record, name)) == exact([0.0] * size), name


def test_primitive_states_defaults(norviktarn):
    record = norviktarn.PrimitiveStates()
    assert exact(record.pt_name) == exact("")
    assert exact(record.names_and_values) == exact({})


def test_plan_info_defaults(norviktarn):
    record = norviktarn.PlanInfo()
    for name in PLAN_TEXTS:
        assert exact(getattr(record, name)) == exact(""), name
    assert exact(record.velocity_scale) == exact(0.0)
    assert exact(record.waiting_for_step) == exact(False)


# -- reading gives copies, writing replaces ------------------------------------


def test_reading_a_list_gives_a_copy(norviktarn):
    record = norviktarn.RobotStates()
    record.q = [1.0, 2.0]
    q = record.q
    q.append(3.0)
    q[0] = -1.0
    assert record.q == [1.0, 2.0]
    assert record.q is not record.q


def test_reading_an_array_or_map_gives_a_copy(norviktarn):
    states = norviktarn.RobotStates()
    pose = states.tcp_pose
    pose[3] = 1.0
    assert states.tcp_pose == [0.0] * 7
    primitive = norviktarn.PrimitiveStates()
    primitive.names_and_values = {"speed": 0.25}
    values = primitive.names_and_values
    values["speed"] = 9.0
    values["extra"] = 1
    assert primitive.names_and_values == {"speed": 0.25}


def test_writing_converts_and_replaces_the_whole_value(norviktarn):
    record = norviktarn.RobotActions()
    source = [1, 2.5, 3]
    record.q_d = source
    source.append(4)
    assert exact(record.q_d) == exact([1.0, 2.5, 3.0])
    record.q_d = (7.0,)
    assert record.q_d == [7.0]
    record.q_d = []
    assert record.q_d == []
    record.tcp_twist_d = range(6)
    assert exact(record.tcp_twist_d) == exact([0.0, 1.0, 2.0, 3.0, 4.0, 5.0])


def test_timestamp_is_a_pair_of_int32(norviktarn):
    record = norviktarn.RobotStates()
    record.timestamp = [INT32_MAX, -5]
    assert exact(record.timestamp) == exact((INT32_MAX, -5))
    for bad in [(1, 2, 3), (1,), (2**31, 0), (1.5, 2), "ab"]:
        with pytest.raises(TypeError, match=r"incompatible function arguments"):
            record.timestamp = bad
    assert record.timestamp == (INT32_MAX, -5)


@pytest.mark.parametrize("cls_name,name,size", [
    ("RobotStates", "flange_pose", 7), ("RobotStates", "raw_ft_sensor", 6), ("RobotActions", "tcp_pose_d", 7),
    ("RobotActions", "tcp_wrench_d", 6)])
def test_fixed_size_arrays_take_exactly_their_length(norviktarn, cls_name, name, size):
    record = getattr(norviktarn, cls_name)()
    for wrong in (size - 1, size + 1, 0):
        with pytest.raises(TypeError) as err:
            setattr(record, name, [1.0] * wrong)
        text = str(err.value)
        assert text.startswith("(): incompatible function arguments. The following argument types are supported:")
        assert "arg0: Annotated[list[float], FixedSize(%d)]) -> None" % size in text
        assert getattr(record, name) == [0.0] * size
    setattr(record, name, [float(i) for i in range(size)])
    assert getattr(record, name) == [float(i) for i in range(size)]


def test_lists_reject_text_and_non_numbers(norviktarn):
    record = norviktarn.RobotStates()
    record.q = [1.0]
    for bad in ["123", b"12", [1.0, "x"], None, 3.0]:
        with pytest.raises(TypeError, match=r"arg0: list\[float\]\) -> None"):
            record.q = bad
    assert record.q == [1.0]


# -- the variant of names_and_values -------------------------------------------


def test_variant_keeps_int_float_and_text_apart(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.names_and_values = {"i": 3, "f": 3.0, "s": "3", "neg": -(2**31), "max": INT32_MAX}
    assert exact(record.names_and_values) == exact({"f": 3.0, "i": 3, "max": INT32_MAX, "neg": -(2**31), "s": "3"})
    record.names_and_values = {"raw": b"MoveL"}  # bytes are text too
    assert exact(record.names_and_values) == exact({"raw": "MoveL"})


def test_variant_bool_reads_back_as_int(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.names_and_values = {"on": True, "off": False}
    assert exact(record.names_and_values) == exact({"off": 0, "on": 1})


def test_variant_int_beyond_32_bits_reads_back_as_float(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.names_and_values = {"big": 2**40, "just_over": 2**31, "very_negative": -(2**31) - 1}
    assert exact(record.names_and_values) == exact(
        {"big": 1099511627776.0, "just_over": 2147483648.0, "very_negative": -2147483649.0})


def test_variant_rejects_other_values_and_keeps_the_old_map(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.names_and_values = {"keep": 1}
    for bad in [{"x": None}, {"x": [1]}, {1: 2}, {"x": 1 + 2j}, [("x", 1)]]:
        with pytest.raises(TypeError, match=r"arg0: dict\[str, Union\[int, float, str\]\]\) -> None"):
            record.names_and_values = bad
    assert record.names_and_values == {"keep": 1}


def test_variant_map_reads_back_in_byte_order_of_keys(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.names_and_values = {"b": 1, "a": 2, "B": 3, "é": 4, "_": 5}
    assert list(record.names_and_values) == ["B", "_", "a", "b", "é"]


# -- text, floats, booleans ----------------------------------------------------


def test_text_round_trips_utf8_and_accepts_bytes(norviktarn):
    info = norviktarn.PlanInfo()
    info.node_name = "Grüße/节点"
    assert info.node_name == "Grüße/节点"
    info.node_path = b"Plan/Node"
    assert exact(info.node_path) == exact("Plan/Node")
    with pytest.raises(TypeError, match=r"arg0: str\) -> None"):
        info.pt_name = 5


def test_invalid_utf8_raises_when_read(norviktarn):
    record = norviktarn.PrimitiveStates()
    record.pt_name = b"Move\xff"
    with pytest.raises(UnicodeDecodeError) as err:
        record.pt_name
    assert "can't decode byte 0xff in position 4" in str(err.value)


def test_velocity_scale_takes_any_number(norviktarn):
    info = norviktarn.PlanInfo()
    info.velocity_scale = 1
    assert exact(info.velocity_scale) == exact(1.0)
    info.velocity_scale = 0.25
    assert info.velocity_scale == 0.25
    with pytest.raises(TypeError, match=r"arg0: float\) -> None"):
        info.velocity_scale = "0.5"
    assert info.velocity_scale == 0.25


def test_waiting_for_step_truth_values(norviktarn):
    info = norviktarn.PlanInfo()
    for value, expected in [(True, True), (None, False), (1, True), (0, False), (2.5, True), (False, False)]:
        info.waiting_for_step = value
        assert exact(info.waiting_for_step) == exact(expected), value
    for bad in ["yes", [1], object()]:
        with pytest.raises(TypeError, match=r"arg0: bool\) -> None"):
            info.waiting_for_step = bad
    assert info.waiting_for_step is False


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("cls_name", ["RobotStates", "RobotActions", "PrimitiveStates", "PlanInfo"])
def test_records_refuse_pickling_cleanly(norviktarn, cls_name, protocol):
    # every protocol, 0 and 1 included, refuses with TypeError rather than aborting the interpreter
    with pytest.raises(TypeError) as err:
        pickle.dumps(getattr(norviktarn, cls_name)(), protocol)
    assert str(err.value) == "cannot pickle 'norviktarn.%s' object" % cls_name
    with pytest.raises(TypeError, match="cannot pickle"):
        copy.deepcopy(getattr(norviktarn, cls_name)())
