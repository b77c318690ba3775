"""The wheel ships the tarn command: its package, the console script, the optional extras."""

import os
import re
import shutil
import stat
import subprocess
import sys
import zipfile

import pytest

from tarn_cli_support import BUILD_DIR, ROOT, one_error_line, require_isolation

TOOL_FILES = {"__init__.py", "__main__.py", "cli.py", "columns.py", "errors.py", "fmt.py", "health.py", "info.py",
              "liblog.py", "losses.py", "names.py", "plot.py", "progress.py", "record.py", "robot.py", "discover.py",
              "terminal.py", "view.py", "watch.py", "writers.py"}


def _cmake_cache(name, default):
    cache = BUILD_DIR / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text().splitlines():
            if line.startswith(name + ":"):
                return line.split("=", 1)[1]
    return default


def _wheelhouse():
    path = os.environ.get("NORVIK_WHEELHOUSE", str(BUILD_DIR / "wheelhouse"))
    text = (ROOT / "pyproject.toml").read_text()
    requires = re.findall(r'"([^"]+)"', re.search(r"^\[build-system\]\s*requires\s*=\s*\[(.*?)\]", text,
                                                   re.M | re.S).group(1))
    have = os.listdir(path) if os.path.isdir(path) else []
    missing = [r for r in requires if not any(f.startswith("%s-%s-" % tuple(r.replace("-", "_").split("==")))
                                              for f in have)]
    if missing:
        pytest.fail("no wheels of %s in %s; tools/run-tests.sh downloads them" % (", ".join(missing), path),
                    pytrace=False)
    return path


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The wheel `pip install .` would install, built offline from the build requirements' wheels."""
    out = tmp_path_factory.mktemp("wheel")
    # cargo as the CMake build runs it (scikit-build-core's CC and CXX would make it rebuild every crate)
    cargo = _cmake_cache("CARGO_EXECUTABLE", shutil.which("cargo") or os.path.expanduser("~/.cargo/bin/cargo"))
    wrapper = out / "cargo"
    wrapper.write_text('#!/bin/sh\nunset CC CXX\nexec "%s" "$@"\n' % cargo)
    wrapper.chmod(wrapper.stat().st_mode | stat.S_IXUSR)
    target = _cmake_cache("NORVIK_CARGO_TARGET_DIR", os.path.expanduser("~/.cache/norvik-tarn/cargo-target"))
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "VIRTUAL_ENV"))}
    done = subprocess.run(
        [sys.executable, "-m", "pip", "wheel", "--no-deps", "--no-index", "--find-links", _wheelhouse(),
         "--config-settings=cmake.define.NORVIK_CARGO_TARGET_DIR=" + target,
         "--config-settings=cmake.define.CARGO_EXECUTABLE=" + str(wrapper), "-w", str(out), str(ROOT)],
        env=env, capture_output=True, text=True, timeout=1800)
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    (path,) = out.glob("norviktarn-2.1.0-*.whl")
    return path


@pytest.mark.slow
def test_the_wheel_ships_the_tool_and_its_script(wheel):
    with zipfile.ZipFile(wheel) as z:
        names = z.namelist()
        tool = {n.split("/", 1)[1] for n in names if n.startswith("tarn_cli/")}
        entry_points = z.read("norviktarn-2.1.0.dist-info/entry_points.txt").decode()
        metadata = z.read("norviktarn-2.1.0.dist-info/METADATA").decode()
    assert tool == TOOL_FILES
    assert "norviktarn.cpython-310-x86_64-linux-gnu.so" in names
    assert re.search(r"^\[console_scripts\]\ntarn = tarn_cli\.cli:main$", entry_points, re.M), entry_points
    for extra, requirement in (("plot", "matplotlib==3.10.9"), ("parquet", "pyarrow==25.0.1")):
        assert "Provides-Extra: %s" % extra in metadata
        assert "Requires-Dist: %s; extra == \"%s\"" % (requirement, extra) in metadata, metadata
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
    done = subprocess.run([tarn, "record", robot.serial, "--duration", "1", "--out", "x.csv", "--quiet"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (tmp_path / "x.csv").read_text().startswith("stream,index,stamp_sec,stamp_nanosec,received_at,")
