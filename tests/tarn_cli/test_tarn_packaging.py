"""The wheel ships the tarn command: its package, the console script, the optional extras."""

import os
import re
import subprocess
import sys
import zipfile

import pytest
from packaging.requirements import Requirement

from tarn_cli_support import ROOT, one_error_line, require_isolation

TOOL_FILES = {"__init__.py", "__main__.py", "cli.py", "columns.py", "errors.py", "fmt.py", "health.py", "info.py",
              "liblog.py", "losses.py", "plan_poller.py", "plot.py", "progress.py", "record.py", "robot.py",
              "discover.py", "terminal.py", "view.py", "watch.py", "writers.py", "cdr.py", "convert.py",
              "mcap_topics.py", "mcap_writer.py", "readers.py", "recmeta.py", "batches.py", "csvtext.py",
              "mcap_batch.py", "tally.py", "bridge.py", "bridge_messages.py", "bridge_server.py", "parquet_batches.py"}


def _dev_pins():
    """{name: version} of python/requirements-dev.txt, the versions the tests run with."""
    pins = {}
    for line in (ROOT / "python" / "requirements-dev.txt").read_text().splitlines():
        if "==" in line and not line.startswith("#"):
            name, version = line.split("#")[0].strip().split("==")
            pins[name] = version
    return pins


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The wheel tools/build-wheel.sh ships (it reuses build/pip/, so only its first build compiles)."""
    out = tmp_path_factory.mktemp("wheel")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "VIRTUAL_ENV", "LD_"))}
    done = subprocess.run([str(ROOT / "tools" / "build-wheel.sh"), str(out)], env=dict(env, SKIP_SETUP="1"),
                          capture_output=True, text=True, timeout=1800)
    assert done.returncode == 0, done.stderr[-4000:]
    (path,) = out.glob("norviktarn-2.1.0-*.whl")
    return path


@pytest.mark.slow
def test_the_wheel_ships_the_tool_and_its_script(wheel):
    with zipfile.ZipFile(wheel) as z:
        names = z.namelist()
        tool = {n.split("/", 1)[1] for n in names if n.startswith("tarn_cli/") and not n.endswith("/")}
        entry_points = z.read("norviktarn-2.1.0.dist-info/entry_points.txt").decode()
        metadata = z.read("norviktarn-2.1.0.dist-info/METADATA").decode()
    assert tool == TOOL_FILES
    assert "norviktarn.cpython-310-x86_64-linux-gnu.so" in names
    assert re.search(r"^\[console_scripts\]\ntarn = tarn_cli\.cli:main$", entry_points, re.M), entry_points
    # the extras are ranges, so the wheel installs beside other packages, and hold the versions tested
    pins = _dev_pins()
    for extra, name in (("plot", "matplotlib"), ("parquet", "pyarrow"), ("mcap", "mcap"), ("numpy", "numpy"),
                        ("bridge", "foxglove-sdk")):
        assert "Provides-Extra: %s" % extra in metadata
        (line,) = [r for r in metadata.splitlines() if r.startswith("Requires-Dist: %s" % name)]
        requirement = Requirement(line.split(":", 1)[1].strip())
        assert str(requirement.marker) == 'extra == "%s"' % extra, line
        assert requirement.specifier and not any(s.operator in ("==", "===") for s in requirement.specifier), line
        assert requirement.specifier.contains(pins[name]), (line, pins[name])
    # the module itself needs nothing: every dependency is an extra
    assert not [line for line in metadata.splitlines() if line.startswith("Requires-Dist:") and "extra ==" not in line]


@pytest.mark.slow
def test_the_installed_command_talks_to_a_robot(wheel, tmp_path, start_robot):
    base = getattr(sys, "_base_executable", None) or sys.executable  # the interpreter under .venv
    venv = tmp_path / "venv"
    subprocess.run([base, "-m", "venv", str(venv)], check=True, timeout=300)
    done = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "-q", "--no-index", str(wheel)],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    require_isolation()
    robot = start_robot()
    # from elsewhere, nothing of the build tree on any path, no extras installed
    env = {"PATH": "/usr/bin:/bin"}
    tarn = str(venv / "bin" / "tarn")
    done = subprocess.run([tarn, "info", robot.serial], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "robot             %s\n" % robot.serial in done.stdout
    # the version and the layout from the client itself, no second Zenoh stack
    assert "server version    v2.1 (this client speaks v2.1)\n" in done.stdout
    assert re.search(r"^  ARM_2 +7 +7  yes$", done.stdout, re.M), done.stdout
    done = subprocess.run([tarn, "record", robot.serial, "--duration", "1", "--out", "x.parquet"], cwd=tmp_path,
                          env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 1
    one_error_line(done, "tarn: writing Parquet needs pyarrow (pip install pyarrow, or pip install 'norviktarn[parquet]' "
                         "for the version tested with it)")
    # the client hands recordings their samples in NumPy arrays, which the wheel does not bring
    done = subprocess.run([tarn, "record", robot.serial, "--duration", "1", "--out", "x.csv", "--quiet"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 1
    one_error_line(done, "tarn: recording needs numpy (pip install numpy, or pip install 'norviktarn[numpy]' "
                         "for the version tested with it)")
    assert not (tmp_path / "x.csv").exists()
