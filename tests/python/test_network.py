"""Choosing the Zenoh configuration from Python, and finding the robots on the network."""

import gc
import threading
import time

import pytest


@pytest.fixture
def chooser(norviktarn):
    """The module with no session open; the choice goes back to the default afterwards."""
    gc.collect()
    assert not norviktarn.zenoh_session_open(), "a client of an earlier test is still alive"
    yield norviktarn
    norviktarn.use_zenoh_config()


def test_choices_and_their_errors(chooser, tmp_path):
    nt = chooser
    assert nt.zenoh_config() == "Zenoh's default configuration"
    nt.use_zenoh_config(connect=["tcp/198.18.0.1:7447"], mode="peer")
    assert nt.zenoh_config() == "Zenoh peer mode connecting to tcp/198.18.0.1:7447"
    good = tmp_path / "client.json5"
    good.write_text("{ mode: 'client', connect: { endpoints: ['tcp/198.18.0.1:7447'] } }")
    nt.use_zenoh_config(str(good))
    assert nt.zenoh_config() == "the Zenoh configuration file '%s'" % good

    with pytest.raises(ValueError, match=r"^\[norvik::tarn::ZenohConfig\] Failed to load the Zenoh configuration "
                                         r"file '/no/such\.json5': No such file or directory"):
        nt.use_zenoh_config("/no/such.json5")
    with pytest.raises(ValueError, match="unknown variant `banana`"):
        nt.use_zenoh_config(json5="{ mode: 'banana' }")
    with pytest.raises(TypeError, match="takes one of file, json5 or connect"):
        nt.use_zenoh_config(str(good), connect=["tcp/198.18.0.1:7447"])
    with pytest.raises(ValueError, match="mode must be 'client' or 'peer'"):
        nt.use_zenoh_config(connect=["tcp/198.18.0.1:7447"], mode="router")
    # a refused choice leaves the last one in place
    assert nt.zenoh_config() == "the Zenoh configuration file '%s'" % good


def test_no_choice_while_a_client_holds_the_session(chooser, start_sim):
    nt = chooser
    sim = start_sim("--no-streams")
    client = nt.Client(sim.serial, verbose=False)
    with pytest.raises(RuntimeError, match=r"^\[norvik::tarn::use_zenoh_config\] The Zenoh session is already open"):
        nt.use_zenoh_config(json5="{}")
    del client
    gc.collect()
    assert not nt.zenoh_session_open()
    nt.use_zenoh_config(json5="{}")


def test_list_robots_finds_them_and_lets_other_threads_run(norviktarn, start_sim):
    sims = [start_sim("--no-streams"), start_sim("--no-streams", "--version-reply", "v3.0")]
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        found = norviktarn.list_robots(timeout=1.0)
    finally:
        stop.set()
        ticker.join()
    versions = {r.serial: r.server_version for r in found}
    assert versions == {sims[0].serial: "v2.1", sims[1].serial: "v3.0"}
    assert repr(found[0]).startswith("<RobotInfo '")
    # the wait released the interpreter: the other thread kept its 10 ms pace
    assert len(ticks) > 50 and max(b - a for a, b in zip(ticks, ticks[1:])) < 0.5
    with pytest.raises(ValueError, match="timeout must be within 0..3600 s"):
        norviktarn.list_robots(-1)
