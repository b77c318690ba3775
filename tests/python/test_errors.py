"""Library errors as Python sees them: exception class and the library's message."""

import time

import pytest

from tarn_py_support import Sim, connect, require_isolation, unique_serial

BAD_SERIAL = "[norvik::tarn::Client] Format of the provided robot serial number is invalid"
NOT_FOUND = ("[norvik::tarn::Client] Failed to connect to [%s]. Please check that: a) Ethernet connection with the "
             "target robot is established; b) The specified serial number of the target robot is correct; c) No "
             "firewall is active or this TARN program is whitelisted; d) TARN version is compatible with the target "
             "robot's software version")


def raised(call, *args, **kwargs):
    with pytest.raises(Exception) as err:
        call(*args, **kwargs)
    return type(err.value), str(err.value)


# -- construction --------------------------------------------------------------


@pytest.mark.parametrize("serial", ["", "abc", "-123", "abc-", "ab_c-1", "a  b-1", " ab-1", "a.b-1", "ab\0c-1",
                                    "Grüße-1"])
def test_malformed_serial_is_value_error(norviktarn, serial):
    # std::invalid_argument becomes ValueError
    assert raised(norviktarn.Client, serial, verbose=False) == (ValueError, BAD_SERIAL)


def test_non_text_arguments_are_type_errors(norviktarn):
    for args, kwargs, shown in [((None,), {}, "None"), ((123,), {}, "123"),
                                (("AB-1",), {"verbose": "yes"}, "'AB-1'; kwargs: verbose='yes'"),
                                ((), {"serial": "AB-1"}, "kwargs: serial='AB-1'")]:
        kind, text = raised(norviktarn.Client, *args, **kwargs)
        assert kind is TypeError
        assert text == ("__init__(): incompatible constructor arguments. The following argument types are "
                        "supported:\n    1. norviktarn.Client(robot_sn: str, verbose: bool = True)\n\n"
                        "Invoked with: " + shown)


def test_no_robot_is_runtime_error_naming_the_normalised_serial(norviktarn):
    require_isolation()
    serial = unique_serial("absent")
    prefix, suffix = serial.rsplit("-", 1)
    kind, text = raised(norviktarn.Client, "Nobody %s-%s" % (prefix, suffix), False)
    assert (kind, text) == (RuntimeError, NOT_FOUND % ("Nobody-%s-%s" % (prefix, suffix)))


@pytest.mark.parametrize("reply", ["v2.10", "v2.1 ", "v2.0"])
def test_incompatible_version_is_runtime_error(norviktarn, start_sim, reply):
    # std::logic_error has no more specific mapping in pybind11 2.13: RuntimeError
    sim = start_sim("--profile", "single", "--version-reply", reply)
    kind, text = raised(connect, norviktarn, sim.serial, False)
    assert kind is RuntimeError
    assert text == "[norvik::tarn::Client] Version of this client is incompatible with robot [%s]" % sim.serial


@pytest.mark.parametrize("args,message", [
    (("--version-empty",), "[norvik::tarn::Client] Failed to sync TARN server version"),
    (("--rpc-fault", "1=error"), "[norvik::tarn::Client] Failed to sync TARN server version"),
    (("--rpc-fault", "10=fail"), "[norvik::tarn::Client] Failed to obtain robot start ID and DoF information"),
    (("--start-id-fault", "negative-dof"),
     "[norvik::tarn::Client] Failed to obtain robot start ID and DoF information"),
])
def test_failed_start_up_requests_are_runtime_errors(norviktarn, start_sim, args, message):
    sim = start_sim("--profile", "single", *args)
    assert raised(connect, norviktarn, sim.serial, False) == (RuntimeError, message)


def test_robot_not_answering_the_probe(norviktarn, start_sim):
    sim = start_sim("--profile", "single", "--rpc-fault", "0=drop")
    assert raised(norviktarn.Client, sim.serial, False) == (RuntimeError, NOT_FOUND % sim.serial)


def test_unnamed_group_one_in_the_stream_is_index_error(norviktarn, start_sim):
    # the library looks the name of group 1 up with map::at: std::out_of_range becomes IndexError
    sim = start_sim("--profile", "single")
    client = connect(norviktarn, sim.serial, verbose=False)
    sim.wait_for_streams(client)
    sim.control({"invalid_group": {"basic": 1}})
    with pytest.raises(IndexError) as err:
        for _ in range(1000):  # until a sample listing group 1 has arrived
            client.groups()
            time.sleep(0.01)
    assert str(err.value) == "map::at"
    assert client.connected() is True


# -- failed requests on a connected client -------------------------------------


@pytest.fixture(scope="module")
def faulty_robot(norviktarn):
    """A robot that answers the start-up requests but spoils the three data requests."""
    require_isolation()
    sim = Sim("--profile", "dual", "--plan-fault", "short", "--rpc-fault", "9=error", "--rpc-fault", "3=fail",
              name="faulty").start()
    try:
        yield sim, connect(norviktarn, sim.serial, verbose=False)
    finally:
        sim.stop()


def test_plan_info_failure(faulty_robot):
    _, client = faulty_robot
    assert raised(client.plan_info) == (RuntimeError, "[norvik::tarn::Client] plan_info: No reply from the robot")


def test_configuration_score_failure(faulty_robot):
    _, client = faulty_robot
    assert raised(client.configuration_score) == (
        RuntimeError, "[norvik::tarn::Model::configuration_score] No reply from the robot")


def test_primitive_states_failure(faulty_robot):
    _, client = faulty_robot
    assert raised(client.primitive_states) == (
        RuntimeError, "[norvik::tarn::Client::primitive_states] No reply from the robot")


def test_a_failed_request_leaves_the_client_usable(faulty_robot):
    sim, client = faulty_robot
    raised(client.plan_info)
    assert client.connected() is True
    sim.wait_for_streams(client)
    assert len(client.states()) == 4


@pytest.mark.parametrize("args,message", [
    (("--primitive-fault", "duplicate-marker"), "Duplicate primitive states for a joint group"),
    (("--primitive-fault", "missing-marker"), "Malformed primitive states: missing jointGroup marker"),
    (("--primitive-fault", "unknown-group"), "Received primitive states for unknown joint group"),
    (("--primitive-corrupt", "6"), "Still received corrupted data after several attempts"),
    (("--plan-fault", "bad-velocity"), None),
])
def test_malformed_replies(norviktarn, start_sim, args, message):
    sim = start_sim("--profile", "single", *args)
    client = connect(norviktarn, sim.serial, verbose=False)
    if message is None:
        assert raised(client.plan_info) == (RuntimeError, "[norvik::tarn::Client] plan_info: No reply from the robot")
    else:
        assert raised(client.primitive_states) == (
            RuntimeError, "[norvik::tarn::Client::primitive_states] " + message)


def test_corrupted_replies_are_retried(norviktarn, start_sim):
    # five corrupted replies in a row are retried; the sixth request is answered
    sim = start_sim("--profile", "single", "--primitive-corrupt", "5")
    client = connect(norviktarn, sim.serial, verbose=False)
    assert list(client.primitive_states()) == [norviktarn.ARM_1]
