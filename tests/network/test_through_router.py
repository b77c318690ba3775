"""Everything a user does works through a Zenoh router, and only through it."""

import json
import re
import sys

from conftest import CLIENT_CONFIG, CLIENT_SIDE

PYTHON_CHECK = r"""
import json, sys
import norviktarn as nt
nt.use_zenoh_config(connect=[sys.argv[2]])
found = {r.serial: r.server_version for r in nt.list_robots(1.5)}
robot = nt.Client(sys.argv[1], verbose=False)
layout = robot.layout()
states, actions = robot.states(), robot.actions()
out = {
    "found": found,
    "server_version": robot.server_version(),
    "connected": robot.connected(),
    "groups": [g.name for g in robot.groups()],
    "q_sizes_match": all(len(s.q) == layout[g][1] for g, s in states.items() if g in layout),
    "states": len(states), "actions": len(actions),
    "primitive_states": len(robot.primitive_states()),
    "plan": robot.plan_info().assigned_plan_name,
    "scores": len(robot.configuration_score()),
    "io": [len(robot.digital_inputs()), len(robot.digital_outputs())],
    "estop": robot.estop_released(), "enabling": robot.enabling_device_on(),
    "config": nt.zenoh_config(),
}
print(json.dumps(out))
"""


def test_cpp_client_with_the_documented_config_file(routed):
    probe = routed.probe("--check", ZENOH_CONFIG=CLIENT_CONFIG)
    assert probe.wait(60) == 0, probe.lines.lines
    (connected, check) = probe.lines.json()
    assert "client-via-router.json5' (ZENOH_CONFIG)" in connected["config"]
    assert check["check"] == "ok", check


def test_python_module_chosen_in_code(routed):
    done = routed.run_client([sys.executable, "-c", PYTHON_CHECK, routed.serial, CLIENT_SIDE])
    assert done.returncode == 0, done.stderr
    # the library's own lines share stdout
    (out,) = [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]
    assert out["found"] == {routed.serial: "v2.1"}
    assert out["config"] == "Zenoh client mode connecting to " + CLIENT_SIDE
    assert out["server_version"] == "v2.1" and out["connected"] is True
    assert out["groups"] == ["ARMS", "ARM_1", "ARM_2", "EXT_AXIS"] and out["q_sizes_match"]
    assert out["states"] == out["actions"] == out["primitive_states"] == out["scores"] == 4
    assert out["plan"] and out["io"] == [20, 20]


def test_defaults_find_a_router_on_the_same_link_and_nothing_without_it(routed):
    # Zenoh's defaults scout by multicast on the client's own link, where the router answers
    probe = routed.probe("--check")
    assert probe.wait(60) == 0, probe.lines.lines
    assert probe.lines.json()[0]["config"] == "Zenoh's default configuration"
    routed.kill_router()
    probe = routed.probe("--check")
    assert probe.wait(60) == 3
    (failed,) = probe.lines.json()
    assert "Failed to connect to [%s]" % routed.serial in failed["error"]


def test_a_robot_with_zenohs_defaults_finds_the_router_on_its_network(routed):
    from tarn_sim.testing import SimProcess

    serial = routed.serial + "B"
    with SimProcess(serial, "--no-streams", python=sys.executable, command_prefix=routed.robot.command([])):
        done = routed.tarn("list", "--connect", CLIENT_SIDE, "--timeout", "3")
    assert done.returncode == 0, done.stderr
    assert done.stdout == "%s  v2.1\n%s  v2.1\n" % (routed.serial, serial)


def test_tarn_list_info_watch_record(routed, tmp_path):
    done = routed.tarn("list", "--connect", CLIENT_SIDE, "--timeout", "1.5")
    assert done.returncode == 0, done.stderr
    assert done.stdout == "%s  v2.1\n" % routed.serial

    done = routed.tarn("info", routed.serial, "--config", CLIENT_CONFIG, "--json")
    assert done.returncode == 0, done.stderr
    info = json.loads(done.stdout)
    assert info["server_version"] == "v2.1" and not info["errors"]
    assert [(g["group"], g["start"], g["dof"]) for g in info["groups"]] == [
        ("ALL", 0, 15), ("ARMS", 0, 14), ("ARM_1", 0, 7), ("ARM_2", 7, 7), ("EXT_AXIS", 14, 1)]

    done = routed.tarn("watch", routed.serial, "--connect", CLIENT_SIDE, "--duration", "1.5")
    assert done.returncode == 0, done.stderr
    assert re.search(r"streams  basic: live", done.stdout), done.stdout

    out = tmp_path / "run.csv"
    # Made again when the simulator skipped ticks on a busy machine: the
    # holes in its stamps are reported as never arrived, rightly, but here
    # the question is whether every sample it sent comes through the router.
    for _ in range(3):
        done = routed.tarn("record", routed.serial, "--connect", CLIENT_SIDE, "--duration", "3", "--out", out,
                           "--quiet", ZENOH_CONFIG=tmp_path / "not-read.json5")
        if "never arrived, 0 dropped by the tool, 0 malformed" not in done.stdout + done.stderr:
            break
    assert done.returncode == 0, done.stdout + done.stderr
    assert re.search(r"basic +\d+ samples, .*: \d+ expected, 0 missing", done.stdout), done.stdout


def test_unreachable_router_fails_in_the_connection_time_naming_it(routed):
    routed.kill_router()
    done = routed.tarn("info", routed.serial, "--connect", CLIENT_SIDE)
    assert done.returncode == 3
    assert done.stderr.startswith("tarn: cannot reach the network: Zenoh client mode connecting to %s: " % CLIENT_SIDE)
    assert CLIENT_SIDE in done.stderr.split(": ", 2)[2], done.stderr
