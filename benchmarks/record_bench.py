#!/usr/bin/env python3
"""CPU of `tarn record` beside a bare client, in one run against one robot.

A C++ robot (bench_robot, dual-arm profile) streams both samples at 1 kHz.
In turn, each alone: a bare client (norviktarn.Client with sample queues,
drained with take_states / take_actions as tarn record drains them, values
left untouched), then `tarn record` to CSV, Parquet and MCAP. Each process's
CPU (user + system, all its threads, from /proc) is taken over the same
window after a warm-up. Then `tarn record` runs --soak seconds at 5 kHz to
one format. Prints a table: CPU, ratio to the bare client, samples lost
(tarn record's own count), file size a minute.

Skips (exit 0, with a message) when the module or bench_robot is not built.

    record_bench.py [--build DIR] [--seconds S] [--soak S] [--soak-format parquet|mcap|csv] [--tool DIR]
                    [--json FILE]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import time

from python_bench import start_robot, stop_robot

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WARMUP = 3.0  # seconds before the window: imports, connecting, the queues filling once
TICK = os.sysconf("SC_CLK_TCK")

BARE = """
import sys, time
import norviktarn
client = norviktarn.Client(sys.argv[1], False)
deadline = time.monotonic() + 5
while time.monotonic() < deadline and not (client.states() and client.actions()):
    time.sleep(0.01)
client.start_sample_queues(10000)
end = time.monotonic() + float(sys.argv[2])
taken = 0
while time.monotonic() < end:
    full = False
    for take in (client.take_states, client.take_actions):
        b = take(1000, 0)
        if b is not None:
            taken += b.count
            full = full or b.count >= 1000
    if not full:
        time.sleep(0.05)  # as tarn record's loop
print("taken", taken)
"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def measured(cmd, env, seconds):
    """(CPU share of one core over the window, stdout) of a process that runs past the window."""
    proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    try:
        time.sleep(WARMUP)
        c0, t0 = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(seconds)
        c1, t1 = cpu_seconds(proc.pid), time.monotonic()
        out, err = proc.communicate(timeout=seconds + 120)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    if proc.returncode not in (0, 1):  # 1: tarn record says a sample is missing; reported below
        raise RuntimeError("%s failed (%d): %s" % (cmd[2:4], proc.returncode, err[-2000:]))
    return (c1 - c0) / (t1 - t0), out


def lost(summary):
    m = re.search(r"lost   (\d+) never arrived, (\d+) dropped by the tool, (\d+) malformed", summary)
    return sum(int(g) for g in m.groups()) if m else None


def record(serial, env, path, seconds):
    cmd = [sys.executable, "-m", "tarn_cli", "record", serial, "--out", path, "--quiet",
           "--duration", str(WARMUP + seconds + 1.0)]
    cpu, out = measured(cmd, env, seconds)
    duration = float(re.search(r"recorded ([\d.]+) s", out).group(1))
    return {"cpu": cpu, "lost": lost(out), "mb_per_minute": os.path.getsize(path) / 1e6 / duration * 60,
            "seconds": duration, "summary": out.strip()}


def run_rate(binary, rate, env, runs):
    """{name: figures} of the runs [(name, format or None, seconds)] against one robot at `rate` Hz."""
    serial = "BENCH-REC-%d-%d" % (os.getpid(), rate)
    robot = start_robot(binary, serial, "dual")
    result = {}
    try:
        robot.stdin.write("stream %d 0 both\n" % rate)
        robot.stdin.flush()
        with tempfile.TemporaryDirectory(prefix="record_bench") as folder:
            for name, fmt, seconds in runs:
                if fmt is None:
                    cpu, out = measured([sys.executable, "-c", BARE, serial, str(WARMUP + seconds + 0.5)], env,
                                        seconds)
                    result[name] = {"cpu": cpu, "taken": int(out.split()[-1])}
                else:
                    path = os.path.join(folder, "run." + fmt)
                    result[name] = record(serial, env, path, seconds)
                    os.remove(path)
    finally:
        stop_robot(robot)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=float, default=20.0, help="window of each 1 kHz run")
    parser.add_argument("--soak", type=float, default=60.0, help="seconds of the 5 kHz recording")
    parser.add_argument("--soak-format", default="parquet", choices=("parquet", "mcap", "csv"))
    parser.add_argument("--tool", default=os.path.join(ROOT, "python"),
                        help="folder holding the tarn_cli to measure (another release's, to compare)")
    parser.add_argument("--json")
    args = parser.parse_args()

    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.join(args.build, "python"), args.tool])
    binary = os.path.join(args.build, "benchmarks", "bench_robot")
    result = {"skipped": None}
    probe = subprocess.run([sys.executable, "-c", "import norviktarn; norviktarn.Client.take_states"], env=env,
                           capture_output=True, text=True)
    if probe.returncode != 0 or not os.path.exists(binary):
        result["skipped"] = "norviktarn with take_states or bench_robot is not built in %s" % args.build
        print("record_bench: skipped: " + result["skipped"])
    else:
        result["1khz"] = run_rate(binary, 1000, env, [("bare client", None, args.seconds)]
                                  + [("tarn record " + f, f, args.seconds) for f in ("csv", "parquet", "mcap")])
        result["5khz"] = run_rate(binary, 5000, env, [("bare client", None, args.seconds),
                                                      ("tarn record " + args.soak_format, args.soak_format,
                                                       args.soak - WARMUP - 1.0)])
        for rate, runs in (("1khz", result["1khz"]), ("5khz", result["5khz"])):
            bare = runs["bare client"]["cpu"]
            print("record_bench: %s dual-arm, both streams" % rate.replace("khz", " kHz"))
            print("  %-20s %7s %9s %6s %8s" % ("", "CPU", "vs bare", "lost", "MB/min"))
            for name, r in runs.items():
                print("  %-20s %6.1f%% %8.2fx %6s %8s" % (
                    name, r["cpu"] * 100, r["cpu"] / bare, r.get("lost", "-"),
                    "%.0f" % r["mb_per_minute"] if "mb_per_minute" in r else "-"))
        soak = result["5khz"]["tarn record " + args.soak_format]
        print("record_bench: 5 kHz %s recording of %.1f s: %s samples lost" % (args.soak_format, soak["seconds"],
                                                                              soak["lost"]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
