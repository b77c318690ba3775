"""The client against a simulated robot (tarn-sim in its own process)."""

import gc
import pickle
import subprocess
import sys
import threading
import time

import pytest

from tarn_py_support import (MODULE_DIR, NOT_FOUND, ROOT, Ticker, connect, require_isolation, unique_serial,
                              wait_until)

DUAL_DOF = {"ARMS": 14, "ARM_1": 7, "ARM_2": 7, "EXT_AXIS": 1}
STATE_LISTS = ["q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature"]
STATE_ARRAYS = {"flange_pose": 7, "tcp_pose": 7, "tcp_twist": 6, "tcp_wrench": 6, "tcp_wrench_local": 6,
                "raw_tcp_wrench": 6, "raw_tcp_wrench_local": 6, "raw_ft_sensor": 6}
ACTION_LISTS = ["q_d", "dq_d", "tau_d"]
ACTION_ARRAYS = {"tcp_pose_d": 7, "tcp_twist_d": 6, "tcp_wrench_d": 6}


def floats(values, size):
    return isinstance(values, list) and len(values) == size and all(type(v) is float for v in values)


def timestamp_ok(stamp):
    return isinstance(stamp, tuple) and len(stamp) == 2 and all(type(v) is int for v in stamp) and stamp != (0, 0)


# -- construction --------------------------------------------------------------


def test_client_by_keyword_and_quiet(norviktarn, start_sim, capfd):
    sim = start_sim("--profile", "single")
    capfd.readouterr()
    client = connect(norviktarn, robot_sn=sim.serial, verbose=False)
    out = capfd.readouterr().out
    assert "[norvik::tarn::Client] Connected to the robot" in out
    assert "Norvik TARN v2.1" not in out
    assert "Initialization complete" not in out
    assert client.groups() == {norviktarn.ARM_1: "ARM_1"}


def test_client_is_verbose_by_default(norviktarn, start_sim, capfd):
    sim = start_sim("--profile", "single")
    capfd.readouterr()
    client = connect(norviktarn, sim.serial)
    out = capfd.readouterr().out
    assert "| | | | | | | | | |  Norvik TARN v2.1  | | | | | | | | | |" in out
    assert "[norvik::tarn::Client] Searching for [%s] ..." % sim.serial in out
    assert "[norvik::tarn::Client] Joint group: ARM_1, DoF: 7" in out
    assert "[norvik::tarn::Client] Initialization complete" in out
    assert client.connected() is True


def test_serial_number_is_normalised(norviktarn, start_sim):
    serial = unique_serial("norm")                      # PY<pid>-norm<n>
    prefix, suffix = serial.rsplit("-", 1)
    sim = start_sim("--profile", "single", serial="Abc-4s-%s-%s" % (prefix, suffix))
    client = connect(norviktarn, "Abc 4s %s-%s" % (prefix, suffix), verbose=False)
    assert client.connected() is True


def test_deleting_the_client_shuts_the_library_client_down(norviktarn, start_sim, capfd):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    capfd.readouterr()
    del client
    assert ">>>>> Norvik TARN exited <<<<<" in capfd.readouterr().out


def test_repr_and_unknown_attributes(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    assert repr(client) == "<norviktarn.Client>"
    with pytest.raises(AttributeError) as err:
        client.timeout = 5
    assert str(err.value) == "'norviktarn.Client' object has no attribute 'timeout'"
    with pytest.raises(AttributeError, match="'norviktarn.Client' object has no attribute 'robot_sn'"):
        client.robot_sn
    with pytest.raises(TypeError, match="cannot pickle 'norviktarn.Client' object"):
        pickle.dumps(client, 0)
    sim.stop()
    wait_until(lambda: not client.connected(), what="the client to notice the robot is gone")
    assert repr(client) == "<norviktarn.Client>"


# -- reading the robot ---------------------------------------------------------


def test_groups_in_ascending_order(norviktarn, dual_robot):
    _, client = dual_robot
    groups = client.groups()
    assert list(groups.items()) == [(norviktarn.ARMS, "ARMS"), (norviktarn.ARM_1, "ARM_1"),
                                    (norviktarn.ARM_2, "ARM_2"), (norviktarn.EXT_AXIS, "EXT_AXIS")]
    assert all(type(k) is norviktarn.JointGroup for k in groups)


def test_states_per_group(norviktarn, dual_robot):
    _, client = dual_robot
    states = client.states()
    assert [k.name for k in states] == list(DUAL_DOF)
    for group, state in states.items():
        assert type(state) is norviktarn.RobotStates
        assert timestamp_ok(state.timestamp), state.timestamp
        for name in STATE_LISTS:
            assert floats(getattr(state, name), DUAL_DOF[group.name]), (group, name)
        for name, size in STATE_ARRAYS.items():
            assert floats(getattr(state, name), size), (group, name)
    # ARMS is ARM_1 followed by ARM_2, cut from the same sample
    assert states[norviktarn.ARMS].q == states[norviktarn.ARM_1].q + states[norviktarn.ARM_2].q


def test_actions_per_group(norviktarn, dual_robot):
    _, client = dual_robot
    actions = client.actions()
    assert [k.name for k in actions] == list(DUAL_DOF)
    for group, action in actions.items():
        assert type(action) is norviktarn.RobotActions
        assert timestamp_ok(action.timestamp)
        for name in ACTION_LISTS:
            assert floats(getattr(action, name), DUAL_DOF[group.name]), (group, name)
        for name, size in ACTION_ARRAYS.items():
            assert floats(getattr(action, name), size), (group, name)


def test_primitive_states_keep_value_kinds(norviktarn, dual_robot):
    _, client = dual_robot
    primitives = client.primitive_states()
    assert [k.name for k in primitives] == list(DUAL_DOF)
    arms = primitives[norviktarn.ARMS]
    assert arms.pt_name == "SyncArms"
    assert arms.names_and_values["leader"] == "ARM_1"
    assert type(arms.names_and_values["synced"]) is int
    assert type(arms.names_and_values["syncError"]) is float
    arm = primitives[norviktarn.ARM_1]
    assert isinstance(arm.pt_name, str) and arm.pt_name
    assert "jointGroup" not in arm.names_and_values and "primitiveName" not in arm.names_and_values
    assert type(arm.names_and_values["reachedTarget"]) is int
    assert type(arm.names_and_values["cycleCount"]) is int
    assert type(arm.names_and_values["timePeriod"]) is float
    assert list(arm.names_and_values) == sorted(arm.names_and_values)


def test_plan_info(norviktarn, dual_robot):
    _, client = dual_robot
    info = client.plan_info()
    assert type(info) is norviktarn.PlanInfo
    assert info.assigned_plan_name == "PickAndPlace"
    assert info.node_path.startswith("PickAndPlace/")
    assert info.node_path.endswith("/" + info.node_name)
    assert type(info.velocity_scale) is float and 0.0 < info.velocity_scale <= 1.0
    assert type(info.waiting_for_step) is bool
    float(info.node_path_time_period)


def test_configuration_scores(norviktarn, dual_robot):
    _, client = dual_robot
    scores = client.configuration_score()
    assert [k.name for k in scores] == list(DUAL_DOF)
    for group, pair in scores.items():
        assert isinstance(pair, tuple) and len(pair) == 2, group
        assert all(type(v) is float and 0.0 <= v <= 100.0 for v in pair), (group, pair)


def test_digital_io(norviktarn, dual_robot):
    _, client = dual_robot
    for values in (client.digital_inputs(), client.digital_outputs()):
        assert isinstance(values, list) and len(values) == 20
        assert all(type(v) is bool for v in values)


@pytest.mark.parametrize("estop,enabling", [(1, 0), (0, 1)])
def test_estop_and_enabling_device(norviktarn, start_sim, estop, enabling):
    sim = start_sim("--profile", "single", "--estop-released", str(estop), "--enabling-device-on", str(enabling))
    client = connect(norviktarn, sim.serial, verbose=False)
    sim.wait_for_streams(client)
    assert client.estop_released() is bool(estop)
    assert client.enabling_device_on() is bool(enabling)
    sim.control({"estop_released": not estop, "enabling_device_on": not enabling})
    wait_until(lambda: client.estop_released() is (not estop), what="the new emergency-stop state")
    wait_until(lambda: client.enabling_device_on() is (not enabling), what="the new enabling-device state")


def test_connected_follows_the_robot(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    assert client.connected() is True
    sim.stop()
    wait_until(lambda: client.connected() is False, what="connected() to turn false")


# -- results are new objects ---------------------------------------------------


def test_changing_a_result_never_changes_the_next(norviktarn, dual_robot):
    _, client = dual_robot
    first = client.states()
    arm = first[norviktarn.ARM_1]
    arm.q = [99.0]
    arm.tcp_pose = [5.0] * 7
    del first[norviktarn.ARMS]
    second = client.states()
    assert second[norviktarn.ARM_1] is not arm
    assert len(second[norviktarn.ARM_1].q) == 7 and 99.0 not in second[norviktarn.ARM_1].q
    assert second[norviktarn.ARM_1].tcp_pose != [5.0] * 7
    assert norviktarn.ARMS in second

    actions = client.actions()
    actions[norviktarn.ARM_2].q_d = []
    assert len(client.actions()[norviktarn.ARM_2].q_d) == 7

    info = client.plan_info()
    info.assigned_plan_name = "changed"
    assert client.plan_info().assigned_plan_name == "PickAndPlace"

    primitives = client.primitive_states()
    primitives[norviktarn.ARMS].names_and_values = {}
    assert client.primitive_states()[norviktarn.ARMS].names_and_values["leader"] == "ARM_1"

    groups = client.groups()
    groups.clear()
    assert len(client.groups()) == 4

    inputs = client.digital_inputs()
    inputs[:] = [None] * 20
    assert all(type(v) is bool for v in client.digital_inputs())


def test_a_result_outlives_the_client(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    sim.wait_for_streams(client)
    states, info = client.states(), client.plan_info()
    del client
    gc.collect()
    assert len(states[norviktarn.ARM_1].q) == 7
    assert info.assigned_plan_name == "PickAndPlace"


# -- the interpreter lock ------------------------------------------------------


# Longest a ticking Python thread may stall while another waits on the network:
# scheduling on a busy two-core machine, far below the waits themselves.
STALL = 0.3


@pytest.mark.parametrize("code,method", [("4", "plan_info"), ("3", "primitive_states"),
                                         ("9", "configuration_score")])
def test_requests_let_other_threads_run(norviktarn, start_sim, code, method):
    sim = start_sim("--profile", "single", "--rpc-fault", code + "=delay:600")
    client = connect(norviktarn, sim.serial, verbose=False)
    with Ticker() as ticker:
        result, took, stall = ticker.time(getattr(client, method))
    assert not isinstance(result, Exception), result
    assert took >= 0.55
    assert stall < STALL, "%s kept the interpreter lock for %.2f s" % (method, stall)


def test_unanswered_requests_let_other_threads_run(norviktarn, start_sim):
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    sim.control({"rpc": {"0": "delay:3000", "4": "delay:3000"}})  # past the time-outs
    with Ticker() as ticker:
        info, took, stall = ticker.time(client.plan_info)
        assert isinstance(info, RuntimeError) and took >= 1.9 and stall < STALL, (info, took, stall)
        alive, took, stall = ticker.time(client.connected)
        assert alive is False and took >= 0.9 and stall < STALL, (alive, took, stall)


def test_connecting_to_a_missing_robot_lets_other_threads_run(norviktarn):
    require_isolation()
    with Ticker() as ticker:
        error, took, stall = ticker.time(norviktarn.Client, unique_serial("absent"), False)
    assert isinstance(error, RuntimeError) and str(error).startswith(NOT_FOUND)
    assert took >= 1.9  # three probes, a second apart
    assert stall < STALL, "the constructor kept the interpreter lock for %.2f s" % stall


def test_closing_while_another_thread_waits_on_the_robot(norviktarn, start_sim):
    sim = start_sim("--profile", "single", "--rpc-fault", "4=delay:800")
    client = connect(norviktarn, sim.serial, verbose=False)
    results = []
    waiting = threading.Thread(target=lambda: results.append(client.plan_info()))
    waiting.start()
    time.sleep(0.2)  # let it send the request; the close below must not cut it short either way
    client.close()
    with pytest.raises(RuntimeError, match=r"^\[norvik::tarn::Client\] The client is closed$"):
        client.plan_info()
    waiting.join(timeout=10)
    assert not waiting.is_alive()
    assert results and results[0].assigned_plan_name == "PickAndPlace"


# -- example -------------------------------------------------------------------


def test_example_program_runs(start_sim):
    sim = start_sim("--profile", "dual")
    example = ROOT / "python" / "examples" / "python_client.py"
    env = {"PATH": "/usr/bin:/bin", "PYTHONPATH": str(MODULE_DIR), "TARN_ISOLATED": "1"}

    def run():
        done = subprocess.run([sys.executable, str(example), sim.serial], env=env, capture_output=True, text=True,
                              timeout=60)
        # a fresh process may not see a robot that has only just started: run it again
        return None if done.stderr.startswith(NOT_FOUND) else done

    done = wait_until(run, timeout=20.0, interval=0.1, what="the example to find the robot")
    assert done.returncode == 0, done.stderr
    lines = [line for line in done.stdout.splitlines() if not line.startswith("[")]  # not the library's log
    assert lines[0] == "connected to %s: ARMS, ARM_1, ARM_2, EXT_AXIS" % sim.serial
    assert any(line.startswith("ARM_1: 7 joints, q = [") for line in lines)
    assert any(line.startswith("plan PickAndPlace, node ") for line in lines)
