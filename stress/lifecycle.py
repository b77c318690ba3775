"""Lifecycle from Python: creates and destroys norviktarn.Client again and
again while the robot streams, and shows that nothing grows.

    PYTHONPATH=build/python python stress/lifecycle.py --serial SN [--cycles N] [--check]

Run it inside tools/isolated next to tarn-sim (tools/run-soak.sh does). Each
cycle connects, checks that the streams arrive, and drops the client; with
nothing else holding the session, every cycle opens and closes it. Figures are
taken after --warmup cycles and at the end; --check exits 1 on a failed
cycle, on thread or descriptor growth, or on memory growth above
--max-rss-growth-mb.
"""

import argparse
import gc
import os
import sys
import time

import norviktarn


def figures():
    status = {}
    with open("/proc/self/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.split()
    return {
        "rss_kb": int(status["VmRSS"][0]),
        "threads": int(status["Threads"][0]),
        "fds": len(os.listdir("/proc/self/fd")) - 1,  # the listing's own
    }


def text(f):
    return "rss=%dkB threads=%d fds=%d" % (f["rss_kb"], f["threads"], f["fds"])


def settled(reference, within=15.0):
    # Zenoh's runtime keeps idle helper threads for about 10 s.
    deadline = time.monotonic() + within
    now = figures()
    while (now["threads"] > reference["threads"] or now["fds"] > reference["fds"]) and time.monotonic() < deadline:
        time.sleep(0.1)
        now = figures()
    return now


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--serial", required=True)
    parser.add_argument("--cycles", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=20)
    parser.add_argument("--report-every", type=int, default=100)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--max-rss-growth-mb", type=float, default=8.0)
    parser.add_argument("--library-log", action="store_true", help="keep the library's log lines (two a cycle)")
    args = parser.parse_args()
    warmup = min(args.warmup, args.cycles - 1)
    out = sys.stdout
    if not args.library_log:
        # The library logs to stdout through spdlog; this script writes to a
        # copy of it.
        sys.stdout.flush()
        out = os.fdopen(os.dup(1), "w")
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)

    def say(line):
        print(line, file=out, flush=True)

    at_launch = figures()
    at_warmup = at_launch
    failed = 0
    longest = total = 0.0
    for cycle in range(1, args.cycles + 1):
        t0 = time.monotonic()
        try:
            client = norviktarn.Client(args.serial, False)
            if not (client.states() and client.actions() and client.groups()):
                failed += 1
                print("lifecycle.py: cycle %d: no stream data" % cycle, file=sys.stderr)
            del client
        except Exception as e:  # every failure is counted and reported
            failed += 1
            print("lifecycle.py: cycle %d: %s" % (cycle, e), file=sys.stderr)
        took = time.monotonic() - t0
        longest = max(longest, took)
        total += took
        if cycle == warmup:
            gc.collect()
            at_warmup = figures()
        if cycle % args.report_every == 0 or cycle == args.cycles:
            say("lifecycle.py: cycle %d failed=%d %s" % (cycle, failed, text(figures())))
    gc.collect()
    at_end = figures()
    after = settled(at_warmup)

    problems = []
    growth = at_end["rss_kb"] - at_warmup["rss_kb"]
    say("\nlifecycle summary (Python, %d cycles, session opened and closed every cycle)" % args.cycles)
    say("  cycles   failed %d; a cycle took %.3f s on average, %.3f s at most" % (failed, total / args.cycles, longest))
    say("  process  launch %s; after %d cycles %s; end %s; settled %s"
          % (text(at_launch), warmup, text(at_warmup), text(at_end), text(after)))
    say("  growth   rss %+d kB (%.2f kB per cycle), threads %+d, fds %+d (settled)"
          % (growth, growth / max(1, args.cycles - warmup), after["threads"] - at_warmup["threads"],
             after["fds"] - at_warmup["fds"]))
    if failed:
        problems.append("%d cycles failed" % failed)
    if after["threads"] > at_warmup["threads"]:
        problems.append("thread count grew")
    if after["fds"] > at_warmup["fds"]:
        problems.append("descriptor count grew")
    if growth > args.max_rss_growth_mb * 1024:
        problems.append("resident memory grew by %d kB" % growth)
    for p in problems:
        say("lifecycle.py: FAIL " + p)
    say("lifecycle.py: " + ("FAIL" if problems else "PASS"))
    return 1 if args.check and problems else 0


if __name__ == "__main__":
    sys.exit(main())
