"""tarn list, and the network options every connecting subcommand takes."""

import json

from tarn_cli_support import one_error_line, tarn


def test_list_shows_every_robot_and_its_version(start_robot):
    good = start_robot("--no-streams", name="listgood")
    old = start_robot("--no-streams", "--version-reply", "v2.0", name="listold")
    done = tarn("list", "--timeout", "1")
    assert done.returncode == 0, done
    assert done.stdout.splitlines() == sorted(["%s  v2.1" % good.serial,
                                               "%s  v2.0   (this tool speaks v2.1)" % old.serial])
    done = tarn("list", "--timeout", "1", "--json")
    assert json.loads(done.stdout) == sorted([
        {"serial": good.serial, "server_version": "v2.1", "compatible": True},
        {"serial": old.serial, "server_version": "v2.0", "compatible": False}], key=lambda r: r["serial"])


def test_no_robot_and_bad_network_options_are_one_line_each(tmp_path):
    done = tarn("list", "--timeout", "0.3")
    assert done.returncode == 3 and done.stdout == ""
    one_error_line(done, "tarn: no robot answered within 0.3 s (check the network link and any firewall)")

    done = tarn("list", "--timeout", "0")
    assert done.returncode == 2
    one_error_line(done, "tarn: --timeout must be within 0..3600 s")

    bad = tmp_path / "bad.json5"
    bad.write_text("{ mode: 'banana' }")
    for args in (["list"], ["info", "Rizon 4s-000001"], ["watch", "Rizon 4s-000001"],
                 ["record", "Rizon 4s-000001", "--out", tmp_path / "x.csv"]):
        done = tarn(*args, "--config", bad)
        assert done.returncode == 1, done
        line = one_error_line(done, "tarn: Failed to load the Zenoh configuration file '%s': " % bad)
        assert "unknown variant `banana`" in line

    done = tarn("info", "Rizon 4s-000001", "--connect", "tcp/198.18.0.1:9")
    assert done.returncode == 3, done
    one_error_line(done, "tarn: cannot reach the network: Zenoh client mode connecting to tcp/198.18.0.1:9: Unable "
                         "to connect to any of [")

    done = tarn("list", "--config", bad, "--connect", "tcp/198.18.0.1:9")
    assert done.returncode == 2
    assert "not allowed with argument" in done.stderr


def test_a_single_endpoint_without_a_router(start_robot, tmp_path):
    # the robot's own session listens on a known endpoint, and scouts for nobody
    listen = tmp_path / "robot.json5"
    listen.write_text('{ mode: "peer", listen: { endpoints: ["tcp/198.18.0.1:7447"] }, '
                      'scouting: { multicast: { enabled: false } } }')
    robot = start_robot("--no-streams", "--config", listen, name="endpoint")
    done = tarn("list", "--connect", "tcp/198.18.0.1:7447", "--timeout", "1")
    assert done.returncode == 0, done
    assert done.stdout == "%s  v2.1\n" % robot.serial
    done = tarn("list", "--timeout", "1")  # Zenoh's defaults: multicast finds no one
    assert done.returncode == 3, done
