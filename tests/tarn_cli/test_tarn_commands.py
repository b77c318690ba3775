"""The command line itself: help on every subcommand, usage errors, and failures as one line."""

import json
import os
import subprocess
import sys
import threading

import pytest

from tarn_cli_support import BUILD_DIR, ROOT, one_error_line, require_isolation, tarn, tool_env

SUBCOMMANDS = {
    "info": ["SN", "--json"],
    "watch": ["SN", "--interval", "--duration", "--stale-after"],
    "record": ["SN", "--out", "--duration", "--queue", "--quiet", "--groups", "--fields", "--every"],
    "plot": ["FILE", "--out", "--groups", "--dpi", "--max-points"],
    "convert": ["IN", "--out"],
}


def test_help_lists_every_subcommand():
    done = tarn("--help")
    assert done.returncode == 0, done
    for name in SUBCOMMANDS:
        assert "\n    %s " % name in done.stdout, done
    assert "exit status" in done.stdout
    assert done.stderr == ""


@pytest.mark.parametrize("name", sorted(SUBCOMMANDS))
def test_each_subcommand_has_help(name):
    done = tarn(name, "--help")
    assert done.returncode == 0, done
    assert done.stdout.startswith("usage: tarn %s " % name), done
    for option in SUBCOMMANDS[name] + ["--verbose"]:
        assert option in done.stdout, (option, done)
    assert done.stderr == ""


def test_version():
    done = tarn("--version")
    assert done.returncode == 0, done
    assert done.stdout.startswith("tarn ") and "(TARN v2.1)" in done.stdout, done


def test_the_build_tree_wrapper_runs_the_tool():
    done = subprocess.run([str(ROOT / "tools" / "tarn"), "plot", "--help"], capture_output=True, text=True,
                          timeout=60, env={"PATH": "/usr/bin:/bin", "BUILD_DIR": str(BUILD_DIR)})
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("usage: tarn plot ")


def test_no_subcommand_is_a_usage_error():
    done = tarn()
    assert done.returncode == 2, done
    assert "usage: tarn" in done.stderr and "required" in done.stderr, done
    assert done.stdout == ""


def test_record_needs_an_output_file():
    done = tarn("record", "AB-CD-77")
    assert done.returncode == 2, done
    assert "--out" in done.stderr


@pytest.mark.parametrize("serial", ["ab_c-1", "abc", "-123", "a.b-1", "a  b-1"])
def test_a_bad_serial_number_is_one_line(serial):
    done = tarn("info", serial)
    assert done.returncode == 2, done
    line = one_error_line(done, "tarn: %r is not a robot serial number" % serial)
    assert "Rizon 4s-062068" in line
    assert done.stdout == ""


@pytest.mark.parametrize("args", [["info"], ["watch"], ["record", "--out", "{tmp}/x.csv", "--duration", "1"]])
def test_an_unknown_robot_is_one_line(args, tmp_path):
    args = [a.replace("{tmp}", str(tmp_path)) for a in args]
    done = tarn(args[0], "Nobody 4s-000000", *args[1:])
    assert done.returncode == 3, done
    one_error_line(done, "tarn: no robot answers as Nobody-4s-000000 (check the network link")
    # the library's connection lines stay off stdout
    assert done.stdout == ""
    assert not (tmp_path / "x.csv").exists()


def test_record_into_a_missing_folder_fails_before_connecting(tmp_path):
    done = tarn("record", "AB-CD-77", "--out", tmp_path / "no" / "run.csv", "--duration", "1")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: cannot write %s: no folder %s" % (tmp_path / "no" / "run.csv", tmp_path / "no"))
    assert done.seconds < 10


@pytest.mark.parametrize("args", [["record", "--out", "run.csv", "--duration", "0"],
                                  ["record", "--out", "run.csv", "--duration", "-1"],
                                  ["record", "--out", "run.csv", "--queue", "0"],
                                  ["record", "--out", "run.csv", "--every", "0"],
                                  ["watch", "--interval", "0"], ["watch", "--duration", "-1"],
                                  ["watch", "--stale-after", "0"]])
def test_bad_numbers_are_refused_before_connecting(args, tmp_path):
    done = tarn(args[0], "AB-CD-77", *args[1:], cwd=tmp_path)
    assert done.returncode == 2, done
    one_error_line(done, "tarn: %s must be " % next(a for a in args[1:] if a.startswith("--") and a != "--out"))
    assert done.seconds < 10


def _without(tmp_path, package):
    """An environment in which `import package` fails, as when it is not installed."""
    shadow = tmp_path / "shadow"
    (shadow / package).mkdir(parents=True)
    (shadow / package / "__init__.py").write_text("raise ImportError('No module named %s')\n" % package)
    return tool_env(first=[shadow])


@pytest.mark.parametrize("name, package, extra, doing", [("run.parquet", "pyarrow", "parquet", "writing Parquet"),
                                                         ("run.mcap", "mcap", "mcap", "reading or writing MCAP")])
def test_a_format_without_its_package_is_one_line(tmp_path, name, package, extra, doing):
    done = tarn("record", "AB-CD-77", "--out", tmp_path / name, "--duration", "1", env=_without(tmp_path, package))
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s needs %s (pip install %s, or pip install 'norviktarn[%s]' "
                         "for the version tested with it)" % (doing, package, package, extra))
    assert not (tmp_path / name).exists()


@pytest.mark.parametrize("option, value, message", [
    ("--fields", "q,speed", "tarn: no field speed (fields: q, theta, dq, "),
    ("--fields", ",", 'tarn: no field "" (fields: q, '),
    ("--groups", " , ", "tarn: --groups names no group"),
])
def test_a_selection_of_nothing_known_is_refused_before_connecting(tmp_path, option, value, message):
    done = tarn("record", "AB-CD-77", "--out", tmp_path / "run.csv", option, value)
    assert done.returncode == 2, done
    one_error_line(done, message)
    assert done.seconds < 10


def test_plot_without_matplotlib_is_one_line(tmp_path):
    (tmp_path / "run.csv").write_text("stream,index,stamp_sec,stamp_nanosec,received_at\n")
    done = tarn("plot", tmp_path / "run.csv", "--out", tmp_path / "run.png", env=_without(tmp_path, "matplotlib"))
    assert done.returncode == 1, done
    one_error_line(done, "tarn: plotting needs matplotlib (pip install matplotlib, or pip install 'norviktarn[plot]' "
                         "for the version tested with it)")


def test_plot_of_a_missing_file_is_one_line(tmp_path):
    done = tarn("plot", tmp_path / "none.csv", "--out", tmp_path / "x.png")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: cannot read %s: no such file" % (tmp_path / "none.csv"))


def test_plot_of_something_else_is_one_line(tmp_path):
    (tmp_path / "other.csv").write_text("a,b\n1,2\n")
    done = tarn("plot", tmp_path / "other.csv", "--out", tmp_path / "x.png")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s is not a tarn recording (no stream column)" % (tmp_path / "other.csv"))
    assert not (tmp_path / "x.png").exists()


@pytest.fixture
def robot_queries(session):
    """The key of every query sent to any robot's keys while the test runs."""
    seen = []
    lock = threading.Lock()

    def take(query):
        with lock:
            seen.append(str(query.key_expr))

    queryable = session.declare_queryable("norvik/robot/**", take)
    yield lambda: list(seen)
    queryable.undeclare()


def test_a_serial_the_library_refuses_never_reaches_the_network(robot_queries, tmp_path):
    # the key it would make is a pattern over every robot
    serial = "**/Rizon 4s-062068"
    for args in (["info"], ["watch", "--duration", "1"], ["record", "--out", tmp_path / "x.csv", "--duration", "1"]):
        done = tarn(args[0], serial, *args[1:])
        assert done.returncode == 2, done
        one_error_line(done, "tarn: %r is not a robot serial number: Format of the provided robot serial number is "
                             "invalid (expected something like \"Rizon 4s-062068\")" % serial)
        assert done.stdout == ""
    assert not (tmp_path / "x.csv").exists()
    # an accepted serial is seen, by its normalised key: the catcher works
    done = tarn("info", "Nobody 4s-000001")
    assert done.returncode == 3, done
    assert set(robot_queries()) == {"norvik/robot/Nobody-4s-000001/rpc"}, robot_queries()


def test_with_sim_serves_the_serial_as_clients_address_it():
    require_isolation()
    serial = "Rizon 4s-CLI%d" % os.getpid()
    env = dict(tool_env(), BUILD_DIR=str(BUILD_DIR))
    done = subprocess.run([str(ROOT / "tools" / "with-sim"), "--serial", serial, "--rate", "100", "--",
                           sys.executable, "-m", "tarn_cli", "info", serial, "--json"],
                          capture_output=True, text=True, timeout=120, env=env, stdin=subprocess.DEVNULL)
    assert done.returncode == 0, (done.stdout, done.stderr)
    assert json.loads(done.stdout)["robot"] == serial.replace(" ", "-")
    # the note, then only the simulator's counters as it stops
    lines = done.stderr.splitlines()
    assert lines[0] == 'with-sim: serving "%s" as %s, the key clients use' % (serial, serial.replace(" ", "-"))
    assert [line.split(":")[0] for line in lines[1:]] == ["tarn-sim"], lines


def test_with_sim_refuses_a_serial_no_client_can_reach(tmp_path):
    marker = tmp_path / "ran"
    done = subprocess.run([str(ROOT / "tools" / "with-sim"), "--serial", "ab_c-1", "--", "touch", str(marker)],
                          capture_output=True, text=True, timeout=60, env=dict(tool_env(), BUILD_DIR=str(BUILD_DIR)))
    assert done.returncode == 2, done
    assert done.stderr == "with-sim: --serial 'ab_c-1': Format of the provided robot serial number is invalid\n"
    assert not marker.exists()
