"""The type stubs shipped with the module: every public name and Client
method is declared, with the parameters the module takes, and a type checker
reads them (mypy, when the environment has it)."""

import ast
import importlib.util
import os
import re
import subprocess
import sys

import pytest

from tarn_py_support import MODULE_DIR, ROOT

STUBS = ROOT / "python" / "stubs" / "norviktarn-stubs"


def stub_tree():
    return ast.parse((STUBS / "__init__.pyi").read_text())


def declared(body):
    names = {}
    for node in body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = node
    return names


def parameters(function):
    args = function.args
    return [a.arg for a in args.posonlyargs + args.args + args.kwonlyargs]


def runtime_parameters(member):
    # pybind11 puts the signature in the first line of the docstring
    first = member.__doc__.splitlines()[0]
    inside = first[first.index("(") + 1:first.rindex(") ->")]
    names = [p.split(":")[0].strip() for p in re.split(r",\s*(?![^\[]*\])", inside) if p]
    return [n for n in names if n not in ("*",)]


def test_stub_package_layout():
    assert (STUBS / "py.typed").exists()
    assert sorted(p.name for p in STUBS.iterdir()) == ["__init__.pyi", "py.typed"]


def test_every_public_name_is_declared(norviktarn):
    module = declared(stub_tree().body)
    public = [k for k in vars(norviktarn) if not k.startswith("_")] + ["__version__"]
    assert [k for k in public if k not in module] == []
    assert [k for k in module if k not in vars(norviktarn)] == [], "declared but not in the module"


def test_functions_and_methods_take_the_modules_parameters(norviktarn):
    module = declared(stub_tree().body)
    for name, node in module.items():
        value = getattr(norviktarn, name)
        if isinstance(node, ast.FunctionDef):
            assert parameters(node) == runtime_parameters(value), name
        elif isinstance(node, ast.ClassDef):
            members = declared(node.body)
            for member_name, member in vars(value).items():
                if member_name.startswith("_") and member_name not in ("__init__", "__enter__", "__exit__"):
                    continue
                # what the module defines (pybind11's own members have other docstrings)
                if not (getattr(member, "__doc__", None) or "").startswith(member_name + "("):
                    continue
                assert member_name in members, "%s.%s" % (name, member_name)
                if member_name != "__exit__":  # *args in both, which the docstring spells differently
                    assert parameters(members[member_name]) == runtime_parameters(member), \
                        "%s.%s" % (name, member_name)


def test_client_methods_are_documented():
    client = declared(stub_tree().body)["Client"]
    undocumented = [n for n, f in declared(client.body).items()
                    if isinstance(f, ast.FunctionDef) and n not in ("__enter__",) and ast.get_docstring(f) is None]
    assert undocumented == []


def test_mypy_reads_the_stubs(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed in this environment")
    # an install's layout: the stub package in a directory of sys.path, where
    # mypy looks for PEP 561 packages of the interpreter it checks for
    site = tmp_path / "site"
    (site / "norviktarn-stubs").mkdir(parents=True)
    for f in STUBS.iterdir():
        (site / "norviktarn-stubs" / f.name).write_bytes(f.read_bytes())
    program = tmp_path / "use.py"
    program.write_text(
        "import norviktarn\n"
        "with norviktarn.Client('Abc-1') as robot:\n"
        "    q: list[float] = robot.states()[norviktarn.ARM_1].q\n"
        "    name: str | None = norviktarn.system_state_name(robot.system_state())\n"
        "    norviktarn.log_to_python()\n"
        "    bad: int = robot.plan_info()\n")
    env = dict(os.environ, PYTHONPATH=str(site))
    done = subprocess.run([sys.executable, "-m", "mypy", "--python-version", "3.10", "--no-incremental",
                           "--cache-dir", os.devnull, "--python-executable", sys.executable, str(program)],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    out = done.stdout
    assert "use.py:6: error: Incompatible types in assignment" in out, out + done.stderr
    assert out.count("error:") == 1, out


def test_stubs_match_the_module(tmp_path):
    # mypy's stubtest against the built module: names and kinds (pybind11's
    # functions give it no signature; the parameters are checked above)
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed in this environment")
    site = tmp_path / "site"
    (site / "norviktarn-stubs").mkdir(parents=True)
    for f in STUBS.iterdir():
        (site / "norviktarn-stubs" / f.name).write_bytes(f.read_bytes())
    allow = tmp_path / "allow.txt"
    allow.write_text("\n".join([
        # pybind11's classes have its metaclass, which stubs do not spell
        r"norviktarn\.(JointGroup|RobotStates|RobotActions|PrimitiveStates|PlanInfo|Client|StreamKind|Freshness"
        r"|StreamHealth|StatesSample|ActionsSample|RobotInfo"
        r"|StatesBatch|ActionsBatch|GroupStatesColumns|GroupActionsColumns)",
        # classes without a constructor (pybind11's refuses every call)
        r"norviktarn\.(StreamHealth|StatesSample|ActionsSample|RobotInfo"
        r"|StatesBatch|ActionsBatch|GroupStatesColumns|GroupActionsColumns)\.__init__",
    ]) + "\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(MODULE_DIR), str(site)]))
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", "norviktarn", "--allowlist", str(allow),
                           "--mypy-config-file", os.devnull],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout[-4000:] + done.stderr[-2000:]
