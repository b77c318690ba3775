"""The module refuses interpreters other than CPython 3.10, before anything else runs."""

import glob
import json
import subprocess
import sys

import pytest

from tarn_py_support import MODULE_DIR, pyenv_python

# Loads the module by file name: another interpreter's import system would not
# even look at a cpython-310 file name.
LOAD = r"""
import importlib.machinery, importlib.util, json, sys
path = sys.argv[1]
loader = importlib.machinery.ExtensionFileLoader("norviktarn", path)
spec = importlib.util.spec_from_file_location("norviktarn", path, loader=loader)
try:
    module = importlib.util.module_from_spec(spec)
    result = {"loaded": True, "doc": module.__doc__}
except BaseException as e:
    result = {"loaded": False, "type": type(e).__name__, "message": str(e)}
result["version"] = sys.version
print(json.dumps(result))
"""


def module_file():
    found = glob.glob(str(MODULE_DIR / "norviktarn.cpython-310-*.so"))
    assert len(found) == 1, found
    return found[0]


def load_with(python):
    done = subprocess.run([python, "-c", LOAD, module_file()], capture_output=True, text=True, timeout=60,
                          env={"PATH": "/usr/bin:/bin"})
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_python_3_11_gets_the_version_mismatch_import_error():
    python = pyenv_python(11)
    assert python, "no pyenv Python 3.11 installed"
    result = load_with(python)
    assert result["version"].startswith("3.11.")
    assert result == {
        "loaded": False, "type": "ImportError", "version": result["version"],
        "message": "Python version mismatch: module was compiled for Python 3.10, but the interpreter version "
                   "is incompatible: %s." % result["version"]}


@pytest.mark.parametrize("minor", [9, 12])
def test_other_minor_versions_are_refused_too(minor):
    python = pyenv_python(minor)
    if python is None:
        pytest.skip("no pyenv Python 3.%d installed" % minor)
    result = load_with(python)
    assert (result["loaded"], result["type"]) == (False, "ImportError")
    assert result["message"] == ("Python version mismatch: module was compiled for Python 3.10, but the "
                                 "interpreter version is incompatible: %s." % result["version"])


def test_a_3_10_patch_release_loads_it():
    result = load_with(sys.executable)
    assert result["version"].startswith("3.10.")
    assert result == {"loaded": True, "doc": "Norvik Telemetry Access Relay Node (TARN)", "version": result["version"]}
