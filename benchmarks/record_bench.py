#!/usr/bin/env python3
"""CPU of `tarn record` beside a bare client, in one run against one robot.

A C++ robot (bench_robot, dual-arm profile) streams both samples at 1 kHz.
In turn, each alone: a bare client (norviktarn.Client with sample queues,
drained with take_states / take_actions as tarn record drains them, values
left untouched), `tarn record` to CSV, Parquet and MCAP, the bare client
again (the ratios are to the mean of its two runs). Each process's
CPU (user + system, all its threads, from /proc) is taken over a window of
the same length after a warm-up: the robot pauses before the window and
then puts a counted run; the samples lost are those of the run that the
bare client did not take, or that the file lacks (rows that arrived after
the pause; the robot's stamps are its put times, too uneven for the tool's
own count of holes). Then the
same at 5 kHz for --soak seconds, to one format. Prints a table: CPU, ratio
to the bare client, samples sent and lost. (bench_robot's values never
change, so its files are no measure of size.)

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
last = {"s": float("-inf"), "a": float("-inf")}
after = {"s": 0, "a": 0}  # samples since the last pause of 0.3 s or more
while time.monotonic() < end:
    full = False
    for kind, take in (("s", client.take_states), ("a", client.take_actions)):
        b = take(1000, 0)
        if b is not None:
            steps = [b.received_at[0] - last[kind]] + list(b.received_at[1:] - b.received_at[:-1])
            pauses = [i for i, d in enumerate(steps) if d > 0.3]
            after[kind] = b.count - pauses[-1] if pauses else after[kind] + b.count
            last[kind] = b.received_at[-1]
            full = full or b.count >= 1000
    if not full:
        time.sleep(0.05)  # as tarn record's loop
print("taken", after["s"] + after["a"])
"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def rows_after(path, fmt, t0):
    """(basic, extra) rows of a recording that arrived at or after t0 (monotonic seconds)."""
    if fmt == "mcap":
        from mcap.reader import make_reader

        with open(path, "rb") as f:
            reader = make_reader(f)
            meta = {m.name: m.metadata for m in reader.iter_metadata()}
            first = t0 * 1e9 + int(meta["recording"]["received_at_offset_ns"])
            counts = {"/tarn/basic/sample": 0, "/tarn/extra/sample": 0}
            for _, channel, message in reader.iter_messages(topics=list(counts), starting_at=int(first)):
                counts[channel.topic] += 1
        return counts["/tarn/basic/sample"], counts["/tarn/extra/sample"]
    import pyarrow.compute as pc

    columns = ["stream", "received_at"]
    if fmt == "parquet":
        import pyarrow.parquet as pq

        table = pq.read_table(path, columns=columns)
    else:
        import pyarrow.csv as pcsv

        table = pcsv.read_csv(path, convert_options=pcsv.ConvertOptions(include_columns=columns))
    table = table.filter(pc.greater_equal(table["received_at"], t0))
    streams = table["stream"].to_pylist()
    return streams.count("basic"), streams.count("extra")


class Robot:
    """bench_robot at `rate` Hz: streaming until told otherwise, or a counted run after a pause."""

    def __init__(self, binary, serial, rate):
        self.proc, self.rate = start_robot(binary, serial, "dual"), rate
        self.stream()

    def stream(self, count=0):
        self.proc.stdin.write("stream %d %d both\n" % (self.rate, count))
        self.proc.stdin.flush()

    def stop(self):
        """(basic, extra) samples the robot put since its stream began."""
        self.proc.stdin.write("stop\n")
        self.proc.stdin.flush()
        return self.done()

    def done(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if line.startswith("done "):
                words = line.split()
                return int(words[1]), int(words[4])
            if not line:
                break
        raise RuntimeError("bench_robot did not finish its stream")

    def close(self):
        stop_robot(self.proc)


def counted(robot, cmd, env, seconds):
    """(CPU share, (basic, extra) sent, stdout, t0) of a process run while the robot streams, pauses and
    then puts a counted run of `seconds` from t0 (monotonic seconds): the window of the CPU figure."""
    proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    try:
        time.sleep(WARMUP - 0.5)
        robot.stop()
        time.sleep(0.5)  # nothing sent: what follows is the counted run
        t0 = time.monotonic()
        c0 = cpu_seconds(proc.pid)
        robot.stream(int(robot.rate * seconds))
        sent = robot.done(timeout=seconds + 30)
        c1, t1 = cpu_seconds(proc.pid), time.monotonic()
        out, err = proc.communicate(timeout=seconds + 120)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        robot.stream()
    if proc.returncode not in (0, 1):  # tarn record: 1 as the pause shows as samples missing
        raise RuntimeError("%s failed (%d): %s" % (cmd[1:4], proc.returncode, err[-2000:]))
    return (c1 - c0) / (t1 - t0), sent, out, t0


def record(robot, serial, env, path, fmt, seconds):
    """tarn record: the rows of the counted run the file holds (arrived after the pause)."""
    cmd = [sys.executable, "-m", "tarn_cli", "record", serial, "--out", path, "--quiet",
           "--duration", str(WARMUP + seconds + 2.0)]
    cpu, sent, out, t0 = counted(robot, cmd, env, seconds)
    got = rows_after(path, fmt, t0)
    return {"cpu": cpu, "sent": sum(sent), "recorded": sum(got), "lost": sum(sent) - sum(got),
            "summary": out.strip()}


def bare(robot, serial, env, seconds):
    """The bare client: the samples of the counted run it took (after the pause)."""
    cmd = [sys.executable, "-c", BARE, serial, str(WARMUP + seconds + 2.0)]
    cpu, sent, out, _ = counted(robot, cmd, env, seconds)
    taken = int(re.search(r"^taken (\d+)$", out, re.M).group(1))
    return {"cpu": cpu, "sent": sum(sent), "recorded": taken, "lost": sum(sent) - taken}


def run_rate(binary, rate, env, runs):
    """{name: figures} of the runs [(name, format or None, seconds)] against one robot at `rate` Hz."""
    serial = "BENCH-REC-%d-%d" % (os.getpid(), rate)
    robot = Robot(binary, serial, rate)
    result = {}
    try:
        with tempfile.TemporaryDirectory(prefix="record_bench") as folder:
            for name, fmt, seconds in runs:
                if fmt is None:
                    result[name] = bare(robot, serial, env, seconds)
                else:
                    path = os.path.join(folder, "run." + fmt)
                    result[name] = record(robot, serial, env, path, fmt, seconds)
                    os.remove(path)
    finally:
        robot.close()
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
        # the bare client before and after the recordings: the machine's load drifts
        result["1khz"] = run_rate(binary, 1000, env, [("bare client", None, args.seconds)]
                                  + [("tarn record " + f, f, args.seconds) for f in ("csv", "parquet", "mcap")]
                                  + [("bare client after", None, args.seconds)])
        result["5khz"] = run_rate(binary, 5000, env, [("bare client", None, args.seconds),
                                                      ("tarn record " + args.soak_format, args.soak_format,
                                                       args.soak),
                                                      ("bare client after", None, args.seconds)])
        for rate, runs in (("1khz", result["1khz"]), ("5khz", result["5khz"])):
            bare = (runs["bare client"]["cpu"] + runs["bare client after"]["cpu"]) / 2
            runs["bare"] = bare
            print("record_bench: %s dual-arm, both streams (vs bare: against the mean of the bare client's runs)"
                  % rate.replace("khz", " kHz"))
            print("  %-20s %7s %9s %9s %6s" % ("", "CPU", "vs bare", "sent", "lost"))
            for name, r in runs.items():
                if name == "bare":
                    continue
                print("  %-20s %6.1f%% %8.2fx %9s %6s" % (name, r["cpu"] * 100, r["cpu"] / bare, r.get("sent", "-"),
                                                          r.get("lost", "-")))
        soak = result["5khz"]["tarn record " + args.soak_format]
        print("record_bench: 5 kHz %s recording, %d samples sent in %.0f s: %d lost" % (
            args.soak_format, soak["sent"], args.soak, soak["lost"]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
