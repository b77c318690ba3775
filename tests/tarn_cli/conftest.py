"""Fixtures for the tarn command's tests: the tool runs in its own process, tarn-sim in another."""

import sys

import pytest

from tarn_cli_support import MODULE_DIR, ROOT, Robot, require_isolation

sys.path.insert(0, str(ROOT / "sim"))


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds or installs something; runs in the normal test command too")


def pytest_report_header(config):
    return "tarn tool from: %s, norviktarn from: %s" % (ROOT / "python", MODULE_DIR)


@pytest.fixture
def start_robot():
    """start_robot(*sim_args, rate=200, profile="dual") -> a running Robot, stopped after the test."""
    require_isolation()
    robots = []

    def start(*args, **kwargs):
        robot = Robot(*args, **kwargs)
        robots.append(robot)
        return robot.start()

    yield start
    for robot in robots:
        robot.stop()


@pytest.fixture(scope="module")
def dual_robot():
    """One dual-arm robot at 200 Hz shared by a test module (tests that change it start their own)."""
    require_isolation()
    robot = Robot(name="dual").start()
    yield robot
    robot.stop()


@pytest.fixture(scope="module")
def session():
    """An eclipse-zenoh session in the test process, for checking what the robot really sent."""
    require_isolation()
    import zenoh

    s = zenoh.open(zenoh.Config())
    yield s
    s.close()
