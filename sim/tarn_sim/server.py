"""The simulator process: one Zenoh session, two publishers, two queryables.

The main thread runs the stream loop (or just waits, without streams);
Zenoh's threads run the request and control handlers. Everything moving is
a function of simulation time, so the handlers need no lock with the loop:
they read the settings object, which is only ever replaced whole.
"""

import os
import resource
import signal
import sys
import threading
import time
from dataclasses import dataclass

import zenoh

from . import control, key_prefix, network, rpc, wire
from .faults import Switchboard, malformed_kind_ratio
from .groups import PROFILES
from .motion import Robot
from .schedule import Ticker
from .streams import STREAMS, StreamBuilder, StreamFaults

INT32_MAX = 2**31 - 1


@dataclass
class Options:
    serial: str
    profile: str = "dual"
    rate: float = 1000.0
    streams: bool = True
    stamp_from_counter: bool = False
    duration: float = 0.0          # seconds; 0 runs until signalled
    exit_with_parent: bool = False
    settings: dict = None          # initial fault switches
    zenoh_config: object = None    # a zenoh.Config; None: ZENOH_CONFIG's file, else Zenoh's defaults


def log(text):
    print("tarn-sim: " + text, file=sys.stderr, flush=True)


def stream_faults(settings):
    return StreamFaults(
        malformed={s: malformed_kind_ratio(settings["malformed"][s]) for s in STREAMS},
        inconsistent=dict(settings["inconsistent"]),
        invalid_group=dict(settings["invalid_group"]),
    )


class Simulator:
    def __init__(self, options):
        self.options = options
        self.profile = PROFILES[options.profile]
        self.prefix = key_prefix(options.serial)
        self.board = Switchboard(options.settings)
        self.robot = Robot(self.profile)
        self.builder = StreamBuilder(self.profile)
        self.period_ns = max(1, round(1e9 / options.rate))
        self.period = self.period_ns / 1e9
        self.published = 0
        self.stop = threading.Event()
        self._t0 = time.monotonic()
        self._ticker = None
        self._rpc = None

    # -- shared view of time --------------------------------------------------

    def sim_time(self):
        """Seconds since start; the streams' sample k is taken at k periods."""
        return time.monotonic() - self._t0

    def status(self):
        return {
            "serial": self.options.serial,
            "profile": self.profile.name,
            "rate": self.options.rate,
            "streams": self.options.streams,
            "published": self.published,
            "sim_time": round(self.sim_time(), 6),
            "skipped": self._ticker.skipped if self._ticker else 0,
            "malformed": self.builder.malformed_count,
            "requests": self._rpc.handled if self._rpc else 0,
        }

    # -- run ------------------------------------------------------------------

    def run(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, lambda *_: self.stop.set())
        if not self.options.stamp_from_counter and time.time() > INT32_MAX - 86400:
            log("the wall clock no longer fits a 32-bit stamp; use --stamp-from-counter")
            return 1
        parent = os.getppid()
        answers = rpc.Answers(self.profile, self.robot, self.board)
        try:
            session = zenoh.open(self.options.zenoh_config or network.zenoh_config())
        except Exception as e:  # zenoh.ZError: no router answers, or a bad value in the configuration
            log("cannot open the Zenoh session: %s" % network.without_location(str(e)))
            return 1
        with session:
            pubs = []
            if self.options.streams:
                for name in ("basic_stream_data", "extra_stream_data"):
                    pubs.append(session.declare_publisher(
                        self.prefix + "/" + name,
                        encoding=wire.ENCODING,
                        congestion_control=zenoh.CongestionControl.DROP,
                    ))
            self._rpc = rpc.RpcService(answers, self.board, self.sim_time, self.prefix + "/rpc")
            queryables = [
                session.declare_queryable(self.prefix + "/rpc", self._rpc),
                session.declare_queryable(
                    self.prefix + control.SUFFIX,
                    control.ControlService(self.board, self.status, self.prefix + control.SUFFIX),
                ),
            ]
            self._t0 = time.monotonic()
            try:
                print("ready " + self.prefix, flush=True)
            except BrokenPipeError:
                self.stop.set()
            usage0, wall0 = resource.getrusage(resource.RUSAGE_SELF), time.monotonic()
            deadline = wall0 + self.options.duration if self.options.duration > 0 else None

            def should_stop():
                if self.stop.is_set():
                    return True
                if deadline is not None and time.monotonic() >= deadline:
                    return True
                if self.options.exit_with_parent and os.getppid() != parent:
                    log("parent process gone, stopping")
                    return True
                return False

            if pubs:
                self._stream_loop(pubs, should_stop)
            else:
                while not should_stop():
                    self.stop.wait(0.1)
            self._rpc.close()
            for q in queryables:
                q.undeclare()
            for p in pubs:
                p.undeclare()
        self._report(usage0, wall0)
        return 0

    def _stream_loop(self, pubs, should_stop):
        basic_pub, extra_pub = pubs
        self._ticker = ticker = Ticker(self.period, start=self._t0)
        wall0_ns = time.time_ns()
        settings, faults = None, None
        next_check = 0
        while True:
            slot = ticker.wait(self.stop.is_set)
            if slot is None:
                break
            # the other stop conditions cost a syscall or two: look every ~10 ms
            if slot >= next_check:
                next_check = slot + max(1, int(0.01 / self.period))
                if should_stop():
                    break
            current = self.board.get()
            if current is not settings:
                settings, faults = current, stream_faults(current)
            if settings["paused"]:
                continue
            snap = self.robot.snapshot(slot * self.period)
            for key in ("system_state", "safety_board_state", "estop_released", "enabling_device_on"):
                if settings[key] is not None:
                    setattr(snap, key, settings[key])
            count = self.published + 1
            if self.options.stamp_from_counter:
                ns = count * self.period_ns
            else:
                ns = wall0_ns + slot * self.period_ns
            basic, extra = self.builder.build(snap, ns // 1_000_000_000, ns % 1_000_000_000, faults)
            basic_pub.put(basic)
            extra_pub.put(extra)
            self.published = count

    def _report(self, usage0, wall0):
        usage = resource.getrusage(resource.RUSAGE_SELF)
        elapsed = max(1e-9, time.monotonic() - wall0)
        user = usage.ru_utime - usage0.ru_utime
        system = usage.ru_stime - usage0.ru_stime
        t = self._ticker
        m = self.builder.malformed_count
        log(
            "stopped: samples=%d rate=%.1f elapsed=%.3f skipped=%d late=%d malformed_basic=%d "
            "malformed_extra=%d requests=%d cpu=%.1f%% user=%.3f system=%.3f"
            % (
                self.published, self.published / elapsed, elapsed,
                t.skipped if t else 0, t.late if t else 0, m["basic"], m["extra"],
                self._rpc.handled if self._rpc else 0,
                100.0 * (user + system) / elapsed, user, system,
            )
        )
