"""The library's log lines: standard output by default, Python's logging or
nowhere on request; the library's threads never wait for the interpreter."""

import logging
import subprocess
import sys
import threading
import time

import pytest

from tarn_py_support import MODULE_DIR, ROOT, connect, wait_until

CONNECTED = "[norvik::tarn::Client] Connected to the robot"


class Recorder(logging.Handler):
    def __init__(self):
        super().__init__(logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append((record.levelname, record.getMessage(), record.threadName))

    def has(self, level, text):
        return (level, text) in [(lvl, msg) for lvl, msg, _ in self.records]


@pytest.fixture
def recorder(norviktarn):
    logger = logging.getLogger("norviktarn")
    handler, level = Recorder(), logger.level
    logger.addHandler(handler)
    logger.setLevel(logging.DEBUG)
    yield handler
    norviktarn.log_to_stdout()
    logger.removeHandler(handler)
    logger.setLevel(level)


def test_lines_reach_logging_with_their_levels(norviktarn, start_sim, recorder, capfd):
    sim = start_sim("--profile", "single", "--plan-fault", "short")
    norviktarn.log_to_python()
    client = connect(norviktarn, sim.serial, verbose=True)
    with pytest.raises(RuntimeError):
        client.plan_info()
    wait_until(lambda: recorder.has("ERROR", "[norvik::tarn::Client] Size of plan info container is incorrect"),
               what="the error line")
    assert recorder.has("INFO", CONNECTED)
    assert recorder.has("INFO", "[norvik::tarn::Client] Initialization complete")
    assert recorder.has("DEBUG", "[norvik::tarn::Client] Starting communication services ...")
    assert {thread for _, _, thread in recorder.records} == {"norviktarn-log"}
    assert CONNECTED not in capfd.readouterr().out
    # and back: standard output again, nothing more for logging
    norviktarn.log_to_stdout()
    seen = len(recorder.records)
    client.close()
    assert ">>>>> Norvik TARN exited <<<<<" in capfd.readouterr().out
    time.sleep(0.3)  # the pump would have passed a line on by now
    assert len(recorder.records) == seen
    assert norviktarn.log_lines_dropped() == 0


def test_silenced(norviktarn, start_sim, recorder, capfd):
    sim = start_sim("--profile", "single")
    norviktarn.silence_log()
    client = connect(norviktarn, sim.serial, verbose=True)
    client.close()
    assert "Norvik TARN" not in capfd.readouterr().out
    assert recorder.records == []


def test_logging_never_waits_for_the_interpreter(norviktarn, start_sim, recorder):
    # The main thread keeps the GIL in a busy loop (a switch interval longer
    # than the test); meanwhile a request on another thread fails and logs.
    # The line must be queued at once, not wait for the GIL.
    sim = start_sim("--profile", "single", "--plan-fault", "short", "--rpc-fault", "4=delay:300")
    client = connect(norviktarn, sim.serial, verbose=False)
    norviktarn.log_to_python()
    calling = threading.Event()

    def request():
        calling.set()
        with pytest.raises(RuntimeError):
            client.plan_info()

    worker = threading.Thread(target=request)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(10.0)
    try:
        worker.start()
        calling.wait()
        deadline = time.monotonic() + 5.0
        while norviktarn.log_backlog() == 0 and time.monotonic() < deadline:
            pass  # holds the GIL throughout
        queued_while_held = norviktarn.log_backlog()
    finally:
        sys.setswitchinterval(interval)
    worker.join(timeout=10)
    assert queued_while_held >= 1  # the reply's debug lines, then the error
    wait_until(lambda: recorder.has("ERROR", "[norvik::tarn::Client] Size of plan info container is incorrect"),
               what="the line in logging")
    assert norviktarn.log_backlog() == 0


EXIT_SCRIPT = """
import logging, sys, threading, time
sys.path.insert(0, %(module_dir)r)
import norviktarn
logging.basicConfig(level=logging.DEBUG, stream=sys.stderr, format="%%(levelname)s:%%(name)s:%%(message)s")
norviktarn.log_to_python()

def connect():
    deadline = time.monotonic() + 20
    while True:
        try:
            return norviktarn.Client(%(serial)r, verbose=False)
        except RuntimeError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)

class SlowToGo:
    def __del__(self):
        time.sleep(2.0)  # keeps the interpreter finalizing while the request below returns

robot = connect()
slow = SlowToGo()
# a daemon thread still waiting on the robot when the interpreter exits; its
# call returns while the interpreter is being finalized
threading.Thread(target=connect().plan_info, daemon=True).start()
time.sleep(0.2)
print("leaving", flush=True)
"""


def test_exit_with_lines_routed_to_logging(norviktarn, start_sim):
    sim = start_sim("--profile", "single", "--rpc-fault", "4=delay:1000")
    script = EXIT_SCRIPT % {"module_dir": str(MODULE_DIR), "serial": sim.serial}
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60, cwd=ROOT)
    assert done.returncode == 0, done.stderr
    assert "INFO:norviktarn:" + CONNECTED in done.stderr.splitlines()
    # once Python's logging is done the route is standard output again
    assert done.stdout.splitlines()[0] == "leaving"
    assert ">>>>> Norvik TARN exited <<<<<" in done.stdout


def test_a_full_queue_drops_and_counts(norviktarn, start_sim, recorder):
    # Every states() call on an inconsistent sample logs an error. With the
    # GIL held throughout, the pump cannot take any: the queue fills, and
    # the rest are counted, never waited on.
    sim = start_sim("--profile", "single", "--inconsistent", "basic")
    client = connect(norviktarn, sim.serial, verbose=False)
    wait_until(lambda: client.stream_health(norviktarn.StreamKind.BASIC).received > 0, what="a sample")
    norviktarn.log_to_python()
    dropped = norviktarn.log_lines_dropped()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(10.0)
    try:
        for _ in range(12000):
            assert client.states() == {}
        backlog = norviktarn.log_backlog()
        dropped = norviktarn.log_lines_dropped() - dropped
    finally:
        sys.setswitchinterval(interval)
    assert backlog == 10000
    assert dropped >= 2000
    wait_until(lambda: norviktarn.log_backlog() == 0, what="the queue to drain")
    wait_until(lambda: len(recorder.records) >= 10000, what="the queued lines in logging")
    assert all(level == "ERROR" for level, _, _ in recorder.records[-10000:])


def test_lines_quoting_a_serial_keep_its_text(norviktarn, recorder):
    # A serial's suffix may be any UTF-8 text, and lines quoting it reach
    # logging as written; bytes that are not UTF-8 are refused before any line
    # could quote them (a key is UTF-8).
    from tarn_py_support import require_isolation
    require_isolation()
    norviktarn.log_to_python()
    with pytest.raises(ValueError, match="Format of the provided robot serial number is invalid"):
        norviktarn.Client(b"ab-\xff", verbose=False)
    with pytest.raises(RuntimeError):
        norviktarn.Client("ab-\u00e9\u20ac", verbose=False)
    wait_until(lambda: any("ab-\u00e9\u20ac" in text for _, text, _ in recorder.records), what="the line quoting the serial")
