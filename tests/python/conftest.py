"""Fixtures for the norviktarn tests: the built module, tarn-sim robots, isolation.

The module is imported from the CMake build (<build>/python, where <build> is
NORVIK_TARN_BUILD_DIR or build/), never from an installed copy.
"""

import os
import sys

import pytest

from tarn_py_support import MODULE_DIR, ROOT, Sim, connect, require_isolation

sys.path.insert(0, str(MODULE_DIR))
sys.path.insert(0, str(ROOT / "sim"))


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds or installs something; runs in the normal test command too")


def pytest_report_header(config):
    return "norviktarn from: %s" % MODULE_DIR


@pytest.fixture(scope="session")
def norviktarn():
    import norviktarn as module

    assert os.path.dirname(os.path.abspath(module.__file__)) == str(MODULE_DIR), module.__file__
    return module


@pytest.fixture
def start_sim():
    """start_sim(*args, name=...) -> a running tarn-sim with its own serial; stopped after the test."""
    require_isolation()
    sims = []

    def start(*args, name="sim", serial=None):
        sim = Sim(*args, name=name, serial=serial)
        sims.append(sim)
        return sim.start()

    yield start
    for sim in sims:
        sim.stop()


@pytest.fixture(scope="module")
def dual_robot(norviktarn):
    """A dual-arm tarn-sim and a client connected to it, shared by a test module."""
    require_isolation()
    sim = Sim("--profile", "dual", name="dual").start()
    try:
        client = connect(norviktarn, sim.serial, verbose=False)
        sim.wait_for_streams(client)
        yield sim, client
        del client
    finally:
        sim.stop()
