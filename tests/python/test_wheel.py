"""The wheel tools/build-wheel.sh makes runs in a fresh Python 3.10 environment on nothing but itself and the
C and C++ runtimes: no spdlog, fmt or Zenoh layer from this machine, no LD_LIBRARY_PATH."""

import json
import os
import re
import subprocess
import zipfile
from pathlib import Path

import pytest

from tarn_py_support import ROOT, pyenv_python

# What every Linux has and a wheel may not bring: glibc's libraries, the loader, the C++ runtime.
RUNTIME = {"linux-vdso.so.1", "ld-linux-x86-64.so.2", "libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2",
           "librt.so.1", "libgcc_s.so.1", "libstdc++.so.6"}
VERSION = "2.1.0"

# Every shared object mapped once the module is imported.
MAPPED = r"""
import json, sys, norviktarn
libs = set()
for line in open("/proc/self/maps"):
    fields = line.split(None, 5)
    if len(fields) == 6 and ".so" in fields[5]:
        libs.add(fields[5].strip())
print(json.dumps({"file": norviktarn.__file__, "prefix": sys.base_prefix, "libs": sorted(libs)}))
"""


def soname(path):
    """libstdc++.so.6.0.30 -> libstdc++.so.6: the name a library is loaded by."""
    return re.sub(r"(\.so\.\d+)\..*$", r"\1", os.path.basename(path))


def bare_env(**extra):
    """No LD_LIBRARY_PATH, nothing of the build tree or of .venv on any path."""
    return dict({"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}, **extra)


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("dist")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "VIRTUAL_ENV", "LD_"))}
    done = subprocess.run([str(ROOT / "tools" / "build-wheel.sh"), str(out)], env=dict(env, SKIP_SETUP="1"),
                          capture_output=True, text=True, timeout=1800)
    assert done.returncode == 0, done.stderr[-4000:]
    path = Path(done.stdout.strip().splitlines()[-1])
    assert path.parent == out and path.is_file(), done.stdout
    return path


@pytest.fixture(scope="module")
def installed(wheel, tmp_path_factory):
    """A fresh venv of pyenv's Python 3.10 with the wheel and nothing else: (python, site-packages)."""
    base = pyenv_python(10)
    assert base, "no pyenv Python 3.10 installed"
    venv = tmp_path_factory.mktemp("venv")
    subprocess.run([base, "-m", "venv", str(venv)], check=True, timeout=300, env=bare_env())
    done = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "-q", "--no-index", str(wheel)],
                          capture_output=True, text=True, timeout=600, env=bare_env())
    assert done.returncode == 0, done.stdout + done.stderr
    return venv / "bin" / "python", venv / "lib" / "python3.10" / "site-packages"


def shipped_elves(site):
    """The module, the project's libraries and what auditwheel grafted beside them."""
    found = [p for p in site.rglob("*.so*") if "norvik" in str(p.relative_to(site)) and p.is_file()]
    return sorted(p for p in found if p.read_bytes()[:4] == b"\x7fELF")


def ldd(path):
    """{soname: resolved path or None} as the loader finds them, with no LD_LIBRARY_PATH."""
    done = subprocess.run(["ldd", str(path)], capture_output=True, text=True, timeout=60, env=bare_env())
    assert done.returncode == 0, done.stderr
    deps = {}
    for line in done.stdout.splitlines():
        m = re.match(r"\s*(\S+)(?: => (\S+| not found))?", line)
        name, where = m.group(1), m.group(2)
        if where is None:  # the vDSO, or the loader named by its path
            deps[os.path.basename(name)] = name
        else:
            deps[name] = None if where.strip() == "not found" else where
    return deps


@pytest.mark.slow
def test_the_wheel_is_manylinux_and_needs_no_library_from_outside(wheel):
    assert re.fullmatch(r"norviktarn-%s-cp310-cp310-manylinux_2_\d+_x86_64\.whl" % re.escape(VERSION), wheel.name)
    with zipfile.ZipFile(wheel) as z:
        names = z.namelist()
        metadata = z.read("norviktarn-%s.dist-info/METADATA" % VERSION).decode()
    grafted = sorted(os.path.basename(n) for n in names if n.startswith("norviktarn.libs/") and n[-1] != "/")
    # spdlog and fmt travel with the module, renamed so that they never clash with a system copy
    assert [n.split("-")[0] for n in grafted] == ["libfmt", "libspdlog"], grafted
    assert {"libnorvik_tarn.so.2", "libnorvik_zenoh.so", "norviktarn.cpython-310-x86_64-linux-gnu.so"} <= set(names)
    assert "norviktarn-%s.dist-info/licenses/LICENSE" % VERSION in names
    assert "License-Expression: Apache-2.0" in metadata

    done = subprocess.run([str(ROOT / ".venv" / "bin" / "auditwheel"), "show", str(wheel)], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    text = " ".join(done.stdout.split())
    assert 'is consistent with the following platform tag: "manylinux_2_' in text, text
    assert "external shared libraries" not in text, text


@pytest.mark.slow
def test_every_shipped_library_resolves_inside_the_wheel_or_to_the_runtimes(installed):
    python, site = installed
    elves = shipped_elves(site)
    names = {p.name for p in elves}
    assert {"norviktarn.cpython-310-x86_64-linux-gnu.so", "libnorvik_tarn.so.2", "libnorvik_zenoh.so"} <= names
    grafted = sorted(p.name.split("-")[0] for p in elves if p.parent.name == "norviktarn.libs")
    assert grafted == ["libfmt", "libspdlog"], names
    for elf in elves:
        for name, where in ldd(elf).items():
            assert where is not None, "%s: %s not found" % (elf.name, name)
            inside = Path(where).resolve().is_relative_to(site)
            assert inside or name in RUNTIME, "%s loads %s from %s" % (elf.name, name, where)


@pytest.mark.slow
def test_the_module_and_the_command_run_from_a_bare_environment(installed, tmp_path):
    python, site = installed
    done = subprocess.run([str(python), "-c", MAPPED], cwd=tmp_path, capture_output=True, text=True, timeout=60,
                          env=bare_env())
    assert done.returncode == 0, done.stderr
    seen = json.loads(done.stdout)
    assert seen["file"] == str(site / "norviktarn.cpython-310-x86_64-linux-gnu.so")
    outside = [lib for lib in seen["libs"] if not Path(lib).is_relative_to(site)
               and not Path(lib).is_relative_to(seen["prefix"]) and soname(lib) not in RUNTIME]
    assert not outside, outside
    assert any(os.path.basename(lib).startswith("libspdlog") and Path(lib).is_relative_to(site)
               for lib in seen["libs"]), seen["libs"]

    done = subprocess.run([str(python.parent / "tarn"), "--help"], cwd=tmp_path, capture_output=True, text=True,
                          timeout=60, env=bare_env())
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("usage: tarn "), done.stdout
    for sub in ("list", "info", "watch", "record", "plot"):
        assert sub in done.stdout
