"""`pip install .` builds a wheel that works in a fresh Python 3.10 environment."""

import json
import os
import re
import shutil
import subprocess
import sys

import pytest

from tarn_py_support import BUILD_DIR, ROOT, pyenv_python
from test_module_surface import SURFACE_ADDITIONS

CHECK = r"""
import json, os, norviktarn
maps = set()
for line in open("/proc/self/maps"):
    fields = line.split(None, 5)
    if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith("libnorvik_"):
        maps.add(fields[5].strip())
print(json.dumps({"doc": norviktarn.__doc__, "file": norviktarn.__file__, "libs": sorted(maps),
                  "names": [k for k in vars(norviktarn) if not k.startswith("_")]}))
"""


def build_requirements():
    text = (ROOT / "pyproject.toml").read_text()
    block = re.search(r"^\[build-system\]\s*requires\s*=\s*\[(.*?)\]", text, re.M | re.S)
    return re.findall(r'"([^"]+)"', block.group(1))


def wheelhouse():
    """Wheels of the build requirements: tools/run-tests.sh fetches them before entering the namespace."""
    path = os.environ.get("NORVIK_WHEELHOUSE", str(BUILD_DIR / "wheelhouse"))
    wheels = [f for f in os.listdir(path) if f.endswith(".whl")] if os.path.isdir(path) else []
    missing = []
    for req in build_requirements():
        name, version = req.split("==")
        if not any(f.startswith("%s-%s-" % (name.replace("-", "_"), version)) for f in wheels):
            missing.append(req)
    if missing:
        # only works with a network: outside tools/isolated
        done = subprocess.run([sys.executable, "-m", "pip", "download", "-q", "--retries", "0", "--timeout", "10",
                               "--only-binary", ":all:", "-d", path] + missing, capture_output=True, text=True)
        if done.returncode != 0:
            pytest.fail("no wheels of %s in %s; tools/run-tests.sh downloads them (%s)"
                        % (", ".join(missing), path, done.stderr.strip()[-300:]), pytrace=False)
    return path


def cmake_cache(name, default):
    cache = BUILD_DIR / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text().splitlines():
            if line.startswith(name + ":"):
                return line.split("=", 1)[1]
    return default


@pytest.mark.slow
def test_pip_install_into_a_fresh_venv(tmp_path):
    base = pyenv_python(10)
    assert base, "no pyenv Python 3.10 installed"
    venv = tmp_path / "venv"
    subprocess.run([base, "-m", "venv", str(venv)], check=True, timeout=300)
    python = str(venv / "bin" / "python")

    # The Zenoh layer comes from the cargo cache the CMake build fills (the build runs
    # cargo without scikit-build-core's CC and CXX, which would rebuild every crate).
    # Cargo itself, not a wrapper in this test's temporary directory: build/pip/ keeps
    # the path, and a later `pip install .` would find nothing there.
    cargo = cmake_cache("CARGO_EXECUTABLE", shutil.which("cargo") or os.path.expanduser("~/.cargo/bin/cargo"))
    target = cmake_cache("NORVIK_CARGO_TARGET_DIR", os.path.expanduser("~/.cache/norvik-tarn/cargo-target"))

    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "VIRTUAL_ENV"))}
    install = subprocess.run(
        [python, "-m", "pip", "install", "--no-index", "--find-links", wheelhouse(),
         "--config-settings=cmake.define.NORVIK_CARGO_TARGET_DIR=" + target,
         "--config-settings=cmake.define.CARGO_EXECUTABLE=" + cargo,
         str(ROOT)],
        env=env, capture_output=True, text=True, timeout=1800)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    assert "Successfully installed norviktarn-2.1.0" in install.stdout

    site = venv / "lib" / "python3.10" / "site-packages"
    shipped = sorted(p.name for p in site.iterdir() if "norvik" in p.name and not p.name.endswith(".dist-info"))
    assert shipped == ["libnorvik_tarn.so.2", "libnorvik_zenoh.so", "norviktarn-stubs",
                       "norviktarn.cpython-310-x86_64-linux-gnu.so"]
    assert sorted(p.name for p in (site / "norviktarn-stubs").iterdir()) == ["__init__.pyi", "py.typed"]

    # from elsewhere, with nothing of the build tree on any path
    done = subprocess.run([python, "-c", CHECK], cwd=tmp_path, capture_output=True, text=True, timeout=60,
                          env={"PATH": "/usr/bin:/bin"})
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert result["doc"] == "Norvik Telemetry Access Relay Node (TARN)"
    assert result["file"] == str(site / "norviktarn.cpython-310-x86_64-linux-gnu.so")
    assert result["libs"] == [str(site / "libnorvik_tarn.so.2"), str(site / "libnorvik_zenoh.so")]
    # the specified names end with Client; the stream-health additions follow it
    assert result["names"][:2] == ["JointGroup", "UNKNOWN"] and result["names"][11] == "Client"
    assert result["names"][12:] == ["StreamKind", "Freshness", "StreamHealth", "StatesSample", "ActionsSample",
                                    "use_zenoh_config", "zenoh_config", "zenoh_session_open", "RobotInfo",
                                    "list_robots", *SURFACE_ADDITIONS]
