"""Additions to the module: version, serial numbers, state names, the latest
sample's states, closing a client, and refusing a queue wait that cannot wait."""

import re

import pytest

from tarn_py_support import ROOT, connect, wait_until

SERIAL_ERROR = "[norvik::tarn::Client] Format of the provided robot serial number is invalid"


def test_version_is_the_packages(norviktarn):
    pyproject = (ROOT / "pyproject.toml").read_text()
    assert norviktarn.__version__ == re.search(r'^version = "([^"]+)"', pyproject, re.M).group(1)


def test_normalize_serial(norviktarn):
    assert norviktarn.normalize_serial("Abc 4s-123") == "Abc-4s-123"
    assert norviktarn.normalize_serial("AB-CD-77") == "AB-CD-77"
    assert norviktarn.normalize_serial(text="a-1") == "a-1"


@pytest.mark.parametrize("serial", ["", "abc", "-123", "abc-", "ab_c-1", "a  b-1", " ab-1", "a.b-1", "ab-1/**"])
def test_normalize_serial_refuses_as_the_constructor_does(norviktarn, serial):
    with pytest.raises(ValueError) as err:
        norviktarn.normalize_serial(serial)
    assert str(err.value) == SERIAL_ERROR
    with pytest.raises(ValueError) as err:
        norviktarn.Client(serial, verbose=False)  # refused before any network
    assert str(err.value) == SERIAL_ERROR


def test_state_names(norviktarn):
    assert norviktarn.system_state_name(0) == "UNKNOWN"
    assert norviktarn.system_state_name(18) == "RECOVERY_EXTERNAL_AUTO"
    assert norviktarn.system_state_name(19) is None
    assert norviktarn.safety_board_state_name(-1) == "UNKNOWN"
    assert norviktarn.safety_board_state_name(24) == "RELEASE_BRAKE"
    assert norviktarn.safety_board_state_name(16) is None
    # outside the wire types: no wrap-around to another code's name
    for call, code in ((norviktarn.system_state_name, -1), (norviktarn.system_state_name, 65536),
                       (norviktarn.safety_board_state_name, 32768 + 12)):
        with pytest.raises(TypeError):
            call(code)


def test_state_name_tables(norviktarn):
    system = norviktarn.system_state_names()
    assert list(system) == list(range(19))
    assert system[5] == "WORKING_EXTERNAL_AUTO" and system[8] == "REWIND_EXTERNAL_AUTO"
    board = norviktarn.safety_board_state_names()
    assert list(board) == [-1, 0, 8, 9, 10, 12, 14, 24, 40, 72, 136]
    assert all(norviktarn.safety_board_state_name(c) == n for c, n in board.items())
    board.clear()  # a copy: the next call is whole again
    assert len(norviktarn.safety_board_state_names()) == 11


def test_latest_sample_states_and_closing(norviktarn, start_sim):
    sim = start_sim("--profile", "single", "--system-state", "13", "--safety-board-state", "40")
    with connect(norviktarn, sim.serial, verbose=False) as robot:
        sim.wait_for_streams(robot)
        assert (robot.system_state(), robot.safety_board_state()) == (13, 40)
        assert norviktarn.system_state_name(robot.system_state()) == "FAULT_MANUAL"
        sim.control({"safety_board_state": 136})
        wait_until(lambda: robot.safety_board_state() == 136, what="the new safety-board state")
    closed = r"^\[norvik::tarn::Client\] The client is closed$"
    for method in ("states", "system_state", "connected", "plan_info", "server_version"):
        with pytest.raises(RuntimeError, match=closed):
            getattr(robot, method)()
    with pytest.raises(RuntimeError, match=closed):
        robot.next_states(0.1)
    robot.close()  # again: nothing
    assert repr(robot) == "<norviktarn.Client>"


def test_with_block_closes_when_it_raises(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    with pytest.raises(KeyError):
        with connect(norviktarn, sim.serial, verbose=False) as robot:
            raise KeyError("passes through")
    with pytest.raises(RuntimeError, match="closed"):
        robot.groups()


def test_queue_waits_refused_until_the_queues_start(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    for method in ("next_states", "next_actions"):
        with pytest.raises(RuntimeError) as err:
            getattr(client, method)(0.5)
        assert str(err.value) == "[norvik::tarn::Client] %s: call start_sample_queues() first" % method
    with pytest.raises(ValueError) as err:
        client.start_sample_queues(0)
    assert str(err.value) == "[norvik::tarn::Client] start_sample_queues: capacity must be at least 1"
    with pytest.raises(TypeError):
        client.start_sample_queues(-1)
    client.start_sample_queues(1)
    assert client.next_states(2.0) is not None


def test_what_the_client_learned_at_connection(norviktarn, dual_robot):
    _, client = dual_robot
    assert client.server_version() == "v2.1"
    layout = client.layout()
    assert list(layout) == sorted(layout, key=int)
    assert layout[norviktarn.ARM_1] == (0, 7) and layout[norviktarn.ARM_2] == (7, 7)
    assert set(client.groups()) <= set(layout)
    layout.clear()  # a copy
    assert client.layout()[norviktarn.ARM_2] == (7, 7)
