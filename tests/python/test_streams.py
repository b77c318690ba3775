"""Stream health and the every-sample queues from Python."""

import threading
import time

import pytest


def test_health_of_a_streaming_robot(norviktarn, dual_robot):
    _, client = dual_robot
    for kind in (norviktarn.StreamKind.BASIC, norviktarn.StreamKind.EXTRA):
        h = client.stream_health(kind)
        assert h.received > 0
        assert h.malformed == 0
        assert 0 <= h.age < 1.0
        assert h.freshness() == norviktarn.Freshness.LIVE
        assert h.freshness(stale_after=0.0) == norviktarn.Freshness.STALE
        assert abs(h.last_received - time.monotonic()) < 1.0
        assert h.robot_stamp != (0, 0)
        assert "received=" in repr(h)


def test_a_robot_that_never_streams_is_told_apart(norviktarn, start_sim):
    from tarn_py_support import connect

    sim = start_sim("--no-streams", name="quiet")
    client = connect(norviktarn, sim.serial, verbose=False)
    h = client.stream_health(norviktarn.StreamKind.BASIC)
    assert h.freshness() == norviktarn.Freshness.NEVER_RECEIVED
    assert h.age is None and h.last_received is None and h.received == 0


def test_queues_give_every_sample_in_order(norviktarn, start_sim):
    from tarn_py_support import connect

    sim = start_sim("--profile", "single", "--stamp-from-counter", "--rate", "1000", name="queued")
    client = connect(norviktarn, sim.serial, verbose=False)
    with pytest.raises(RuntimeError, match=r"next_states: call start_sample_queues\(\) first"):
        client.next_states(0.01)  # before the queues start: refused, never an instant None
    client.start_sample_queues(100000)
    stamps = []
    indices = []
    while len(stamps) < 500:
        s = client.next_states(2.0)
        assert s is not None
        indices.append(s.index)
        sec, nsec = s.states[norviktarn.ARM_1].timestamp
        stamps.append(sec * 1_000_000_000 + nsec)
        assert len(s.states[norviktarn.ARM_1].q) == 7
        assert len(s.digital_inputs) == 20
    assert indices == list(range(indices[0], indices[0] + 500))
    steps = {b - a for a, b in zip(stamps, stamps[1:])}
    assert steps == {1_000_000}, "a sample was lost or repeated"
    a = client.next_actions(2.0)
    assert len(a.actions[norviktarn.ARM_1].q_d) == 7
    assert client.stream_health(norviktarn.StreamKind.BASIC).queue_dropped == 0


def test_the_wait_releases_the_interpreter(norviktarn, start_sim):
    from tarn_py_support import connect

    sim = start_sim("--profile", "single", "--paused", name="paused")
    client = connect(norviktarn, sim.serial, verbose=False)
    client.start_sample_queues()
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    t = threading.Thread(target=ticker)
    t.start()
    start = time.monotonic()
    assert client.next_states(0.5) is None  # the robot publishes nothing while paused
    waited = time.monotonic() - start
    stop.set()
    t.join()
    assert waited >= 0.5
    assert len([x for x in ticks if start <= x <= start + waited]) > 10, "other threads stalled during the wait"


@pytest.mark.parametrize("timeout", [0.0, -1.0, float("nan")])
def test_non_positive_timeouts_return_at_once(norviktarn, dual_robot, timeout):
    _, client = dual_robot
    client.start_sample_queues(1)  # waits are refused before
    start = time.monotonic()
    client.next_actions(timeout)
    assert time.monotonic() - start < 0.1
