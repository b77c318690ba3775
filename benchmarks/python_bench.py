#!/usr/bin/env python3
"""states() and actions() per call from Python, through the norviktarn module.

For each profile a C++ robot (bench_robot) streams both samples at 1 kHz
while the calls are timed. Beside them, in the same rounds: estop_released()
(the least a bound call costs: one lock, one field, a bool back) and
states() followed by reading q of every group (what a reader that uses the
values pays). Rounds rotate the order of the calls; each figure is the
median over rounds of the mean call time in that round.

Then the every-sample queue drained from Python, per sample: next_states()
one call per sample, against take_states() (NumPy columns, one call per run
of samples); and the same two reading every field of every group, as a
recorder does. Each round lets about 200 samples queue, then drains them one
way; rounds rotate the ways; each figure is the median over rounds.

Skips (exit 0, with a message) when the module is not built.

    python_bench.py [--build DIR] [--rounds N] [--json FILE]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time


def start_robot(binary, serial, profile):
    robot = subprocess.Popen([binary, "--serial", serial, "--profile", profile, "--realtime"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, text=True, bufsize=1)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        line = robot.stdout.readline()
        if not line:
            break
        if line.startswith("ready"):
            return robot
    robot.kill()
    raise RuntimeError("bench_robot did not start")


def stop_robot(robot):
    try:
        robot.stdin.write("stop\nquit\n")
        robot.stdin.flush()
        robot.wait(timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        robot.kill()


def per_call_us(fn, calls):
    start = time.perf_counter_ns()
    for _ in range(calls):
        fn()
    return (time.perf_counter_ns() - start) / calls / 1e3


def measure(client, rounds):
    def states_and_q():
        for s in client.states().values():
            s.q

    calls = {
        "states": client.states,
        "actions": client.actions,
        "estop_released": client.estop_released,
        "states_and_q": states_and_q,
    }
    # Enough calls per round for about 0.1 s of the slowest one.
    slowest = max(per_call_us(fn, 200) for fn in calls.values())
    n = max(200, int(0.1e6 / slowest))
    names = list(calls)
    samples = {name: [] for name in names}
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            samples[name].append(per_call_us(calls[name], n))
    return {name: statistics.median(v) for name, v in samples.items()}, n


def drain_us(drain, client, fill_s):
    """Lets the queue fill for `fill_s`, then times `drain`; (us per sample, samples)."""
    client.take_states(1 << 30, 0.0)  # what queued while the last way was timed
    time.sleep(fill_s)
    start = time.perf_counter_ns()
    taken = drain()
    elapsed = time.perf_counter_ns() - start
    return (elapsed / taken / 1e3 if taken else float("nan")), taken


GROUP_FIELDS = ("timestamp", "q", "theta", "dq", "dtheta", "tau", "tau_dot", "tau_ext", "tau_interact", "temperature",
                "flange_pose", "tcp_pose", "tcp_twist", "tcp_wrench", "tcp_wrench_local", "raw_tcp_wrench",
                "raw_tcp_wrench_local", "raw_ft_sensor")
SAMPLE_FIELDS = ("index", "received_at", "system_state", "safety_board_state", "estop_released", "enabling_device_on",
                 "digital_inputs", "digital_outputs")


def read_all(sample_or_batch):
    for name in SAMPLE_FIELDS:
        getattr(sample_or_batch, name)
    for g in sample_or_batch.states.values():
        for name in GROUP_FIELDS:
            getattr(g, name)


def measure_drain(client, rounds, fill_s=0.2):
    client.start_sample_queues(100000)

    def one_at_a_time(read):
        def drain():
            taken = 0
            # bounded: at 1 kHz the robot cannot outrun this many in the time it takes
            for _ in range(100000):
                s = client.next_states(0.0)
                if s is None:
                    break
                if read:
                    read_all(s)
                taken += 1
            return taken
        return drain

    def batched(read):
        def drain():
            taken = 0
            for _ in range(100000):
                b = client.take_states(1 << 30, 0.0)
                if b is None:
                    break
                if read:
                    read_all(b)
                taken += b.count
            return taken
        return drain

    ways = {"drain_next_states": one_at_a_time(False), "drain_take_states": batched(False),
            "drain_next_states_read": one_at_a_time(True), "drain_take_states_read": batched(True)}
    names = list(ways)
    samples = {name: [] for name in names}
    counts = []
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            us, taken = drain_us(ways[name], client, fill_s)
            samples[name].append(us)
            counts.append(taken)
    figures = {name: statistics.median(v) for name, v in samples.items()}
    figures["drain_samples_per_round"] = statistics.median(counts)
    return figures


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(root, "build"))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--json")
    args = parser.parse_args()

    result = {"skipped": None, "profiles": {}}
    sys.path.insert(0, os.path.join(args.build, "python"))
    try:
        import norviktarn
    except ImportError as e:
        result["skipped"] = "norviktarn is not built in %s/python (%s)" % (args.build, e)
        print("python_bench: skipped: " + result["skipped"])
        if args.json:
            with open(args.json, "w") as f:
                json.dump(result, f, indent=1)
        return 0

    robot_binary = os.path.join(args.build, "benchmarks", "bench_robot")
    for profile in ("dual", "single"):
        serial = "BENCH-PY-%d-%s" % (os.getpid(), profile)
        robot = start_robot(robot_binary, serial, profile)
        try:
            robot.stdin.write("stream 1000 0 both\n")
            robot.stdin.flush()
            client = norviktarn.Client(serial, False)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and not (client.states() and client.actions()):
                time.sleep(0.01)
            groups = len(client.states())
            figures, calls = measure(client, args.rounds)
            figures.update(measure_drain(client, args.rounds))
            del client
        finally:
            stop_robot(robot)
        figures["groups"] = groups
        figures["calls_per_round"] = calls
        result["profiles"][profile] = figures
        print("python_bench/%s: states() %.2f us, actions() %.2f us, estop_released() %.2f us, "
              "states()+q %.2f us (%d groups, %d rounds of %d calls)" %
              (profile, figures["states"], figures["actions"], figures["estop_released"], figures["states_and_q"],
               groups, args.rounds, calls))
        print("python_bench/%s: draining the queue, per sample: next_states() %.2f us, take_states() %.2f us "
              "(%.1fx); reading every field: %.2f us against %.2f us (%.1fx); about %d samples a round" %
              (profile, figures["drain_next_states"], figures["drain_take_states"],
               figures["drain_next_states"] / figures["drain_take_states"], figures["drain_next_states_read"],
               figures["drain_take_states_read"],
               figures["drain_next_states_read"] / figures["drain_take_states_read"],
               figures["drain_samples_per_round"]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
