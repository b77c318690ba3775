"""tarn info against tarn-sim: every section, the JSON form, faults, and the library's log lines."""

import json
import re

from tarn_cli_support import one_error_line, tarn

# tarn-sim's layouts (sim/README.md): group -> (start, DoF)
DUAL = {"ALL": (0, 15), "ARMS": (0, 14), "ARM_1": (0, 7), "ARM_2": (7, 7), "EXT_AXIS": (14, 1)}
SINGLE = {"ALL": (0, 7), "ARMS": (0, 7), "ARM_1": (0, 7), "ARM_2": (7, 0), "EXT_AXIS": (7, 0)}


def _group_rows(text):
    block = text.split("joint groups\n", 1)[1].split("\n\n", 1)[0].splitlines()
    assert block[0].split() == ["group", "start", "DoF", "in", "the", "streams"], block
    return {r.split()[0]: tuple(r.split()[1:]) for r in block[1:] if not r.lstrip().startswith("(")}


def _layout(rows):
    return {g: (int(r[0]), int(r[1])) for g, r in rows.items()}


def test_info_text_has_every_section(dual_robot):
    done = tarn("info", dual_robot.serial)
    assert done.returncode == 0, done
    out = done.stdout
    assert out.startswith("robot             %s\n" % dual_robot.serial), done
    assert "server version    v2.1 (this client speaks v2.1)" in out
    assert re.search(r"^system state      (WORKING_AUTO_EXECUTE \(7\)|STOPPED_AUTO \(3\))$", out, re.M), out
    assert re.search(r"^safety board      (NORMAL \(12\)|REDUCED \(10\))$", out, re.M), out
    assert "e-stop            released" in out and "enabling device   off" in out
    assert re.search(r"^digital inputs    [01]{20}  on: ", out, re.M), out
    assert re.search(r"^streams           basic: live, \d+ Hz, age \d+ ms, \d+ received, 0 malformed$", out, re.M), out
    assert re.search(r"^                  extra: live, \d+ Hz, age \d+ ms, \d+ received, 0 malformed$", out, re.M), out
    rows = _group_rows(out)
    assert _layout(rows) == DUAL
    assert {g for g, r in rows.items() if r[2] == "yes"} == {"ARMS", "ARM_1", "ARM_2", "EXT_AXIS"}
    assert "plan              PickAndPlace\n" in out
    assert re.search(r"^  node            \w+ \(primitive \w+\)$", out, re.M), out
    assert re.search(r"^  velocity scale  0\.\d\d$", out, re.M), out
    prims = out.split("primitive states\n", 1)[1].split("\n\n", 1)[0].splitlines()
    assert [p.split()[0] for p in prims] == ["ARMS", "ARM_1", "ARM_2", "EXT_AXIS"], prims
    assert prims[0].split()[1] == "SyncArms:", prims
    scores = out.split("configuration scores (0..100: translation, rotation)\n", 1)[1].splitlines()
    assert [s.split()[0] for s in scores] == ["ARMS", "ARM_1", "ARM_2", "EXT_AXIS"], scores
    assert all(0 <= float(v) <= 100 for s in scores for v in s.split()[1:]), scores
    # stdout is the tool's own text only; the library's info lines are not shown without -v
    assert "[norvik::tarn::Client]" not in out and "Norvik TARN exited" not in out
    assert done.stderr == ""


def test_info_json_matches_the_robot(dual_robot):
    done = tarn("info", dual_robot.serial, "--json")
    assert done.returncode == 0, done
    report = json.loads(done.stdout)
    assert report["robot"] == dual_robot.serial
    assert report["server_version"] == "v2.1" and report["client_version"] == "v2.1"
    assert {g["group"]: (g["start"], g["dof"]) for g in report["groups"]} == DUAL
    assert all(g["dof_in_streams"] == g["dof"] for g in report["groups"] if g["in_streams"])
    st = report["status"]
    assert st["system_state"] in (3, 7) and st["safety_board_state"] in (10, 12)
    assert st["estop_released"] is True and st["enabling_device_on"] is False
    assert len(st["digital_inputs"]) == len(st["digital_outputs"]) == 20
    assert report["streams"]["basic"]["freshness"] == "LIVE" and report["streams"]["basic"]["received"] > 0
    assert report["plan"]["assigned_plan_name"] == "PickAndPlace"
    assert set(report["primitive_states"]) == {"ARMS", "ARM_1", "ARM_2", "EXT_AXIS"}
    assert set(report["configuration_scores"]) == {"ARMS", "ARM_1", "ARM_2", "EXT_AXIS"}
    assert report["errors"] == {}


def test_info_single_arm_layout(start_robot):
    robot = start_robot(profile="single")
    done = tarn("info", robot.serial)
    assert done.returncode == 0, done
    rows = _group_rows(done.stdout)
    assert _layout(rows) == SINGLE
    assert {g for g, r in rows.items() if r[2] == "yes"} == {"ARM_1"}


def test_info_names_the_state_codes(start_robot):
    robot = start_robot("--system-state", "14", "--safety-board-state", "40", "--estop-released", "0",
                        "--enabling-device-on", "1")
    done = tarn("info", robot.serial)
    assert done.returncode == 0, done
    assert "system state      FAULT_AUTO (14)\n" in done.stdout
    assert "safety board      CAT_0_STOP (40)\n" in done.stdout
    assert "e-stop            PRESSED (not released)\n" in done.stdout
    assert "enabling device   on\n" in done.stdout


def test_info_shows_a_code_without_a_name_as_a_number(start_robot):
    # the safety board's codes are sparse: 16 has no name, nor has system state 19
    robot = start_robot("--system-state", "19", "--safety-board-state", "16")
    done = tarn("info", robot.serial, "--json")
    assert done.returncode == 0, done
    report = json.loads(done.stdout)["status"]
    assert (report["system_state"], report["safety_board_state"]) == (19, 16)
    done = tarn("info", robot.serial)
    assert "system state      unnamed (19)\n" in done.stdout and "safety board      unnamed (16)\n" in done.stdout


def test_an_unanswered_request_still_prints_the_rest(start_robot):
    robot = start_robot("--rpc-fault", "4=drop")
    done = tarn("info", robot.serial)
    assert done.returncode == 1, done
    assert "plan              unavailable: plan_info: No reply from the robot" in done.stdout, done
    assert "primitive states\n  ARMS" in done.stdout  # the other requests were answered
    one_error_line(done, "tarn: unanswered: plan")


def test_a_version_mismatch_is_one_line_naming_both_versions(start_robot):
    robot = start_robot("--version-reply", "v2.0")
    done = tarn("info", robot.serial)
    assert done.returncode == 4, done
    one_error_line(done, "tarn: robot %s runs TARN server v2.0; this tool speaks v2.1" % robot.serial)
    assert done.stdout == ""


def test_watch_and_record_report_a_version_mismatch_too(start_robot, tmp_path):
    robot = start_robot("--version-reply", "v2.10")
    for args in (["watch", robot.serial, "--duration", "1"],
                 ["record", robot.serial, "--out", tmp_path / "x.csv", "--duration", "1"]):
        done = tarn(*args)
        assert done.returncode == 4, done
        one_error_line(done, "tarn: robot %s runs TARN server v2.10; this tool speaks v2.1" % robot.serial)


def test_verbose_passes_the_library_log_to_stderr(dual_robot):
    done = tarn("info", "-v", dual_robot.serial)
    assert done.returncode == 0, done
    assert "[info] [norvik::tarn::Client] Joint group: EXT_AXIS, DoF: 1" in done.stderr, done
    assert "[info] >>>>> Norvik TARN exited <<<<<" in done.stderr
    assert "[norvik" not in done.stdout


def test_the_robot_s_text_never_reaches_the_terminal_as_control_codes(start_robot):
    # a hostile or broken robot's version would clear the screen of whoever reads the error
    robot = start_robot("--version-reply", "v2.0\x1b[2J\x1b[H")
    done = tarn("info", robot.serial)
    assert done.returncode == 4, done
    line = one_error_line(done, "tarn: robot %s runs TARN server 'v2.0\\x1b[2J\\x1b[H'; this tool speaks v2.1"
                          % robot.serial)
    assert "\x1b" not in line
