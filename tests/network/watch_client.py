"""A monitoring client, as a user runs one: connects, reads every sample, asks, and tells what it saw.

    python watch_client.py --serial SN [--connections N] [--seconds S] [--marker-state CODE]

Runs through the Zenoh configuration ZENOH_CONFIG names. First connects N
times one after another (a new session each time), printing one JSON line per
attempt: its time and the server version, or the error. Then holds one
Client (up to ten more attempts if the last one failed) for S seconds: takes
every basic sample from the sample queue, counts the ones a real robot never
sends (emergency stop pressed, or system_state CODE) and the ones cut
differently from the first, and asks connected() and plan_info() in turn (a
line each); its resident memory every 100 ms. The last line is a summary.
Exit status 0 unless the watch itself could not start.
"""

import argparse
import json
import os
import sys
import time

import norviktarn

PAGE = os.sysconf("SC_PAGE_SIZE")


def emit(**fields):
    print(json.dumps(dict(t=time.monotonic(), **fields)), flush=True)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def shape(sample):
    return {int(g): (len(s.q), len(s.tau)) for g, s in sample.states.items()}


def connect_once(serial):
    start = time.monotonic()
    try:
        client = norviktarn.Client(serial)
    except Exception as e:  # the user's message is the point here
        emit(ev="connect", ok=False, took=time.monotonic() - start, error=str(e))
        return None
    emit(ev="connect", ok=True, took=time.monotonic() - start, version=client.server_version())
    return client


def watch(client, seconds, marker_state):
    client.start_sample_queues(100000)
    counts = dict(samples=0, foreign=0, misshapen=0, connected=0, not_connected=0, plan_ok=0, plan_failed=0)
    first_shape = None
    rss_start = rss_max = rss()
    next_ask = next_rss = time.monotonic()
    ask_plan = False
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        sample = client.next_states(0.05)
        if sample is not None:
            counts["samples"] += 1
            if not sample.estop_released or sample.system_state == marker_state:
                counts["foreign"] += 1
            if first_shape is None:
                first_shape = shape(sample)
            elif shape(sample) != first_shape:
                counts["misshapen"] += 1
        now = time.monotonic()
        if now >= next_rss:
            current = rss()
            rss_max = max(rss_max, current)
            emit(ev="rss", rss=current, samples=counts["samples"], misshapen=counts["misshapen"],
                 malformed=client.stream_health(norviktarn.StreamKind.BASIC).malformed)
            next_rss = now + 0.1
        if now >= next_ask:
            # one request at a time, as a monitoring loop would
            if ask_plan:
                error = None
                try:
                    client.plan_info()
                except Exception as e:
                    error = str(e)
                ok = error is None
                counts["plan_ok" if ok else "plan_failed"] += 1
            else:
                ok, error = client.connected(), None
                counts["connected" if ok else "not_connected"] += 1
            emit(ev="ask", call="plan_info" if ask_plan else "connected", start=now, ok=ok, error=error)
            ask_plan = not ask_plan
            next_ask = time.monotonic() + 0.1
    malformed = client.stream_health(norviktarn.StreamKind.BASIC).malformed
    emit(ev="summary", rss_start=rss_start, rss_max=rss_max, rss_end=rss(), malformed=malformed, **counts)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--serial", required=True)
    p.add_argument("--connections", type=int, default=1)
    p.add_argument("--seconds", type=float, default=0.0)
    p.add_argument("--marker-state", type=int, default=-1)
    args = p.parse_args()
    client = None
    for _ in range(max(1, args.connections)):
        client = None  # the previous session closes before the next opens
        client = connect_once(args.serial)
    if args.seconds > 0:
        # another answering for the robot may spoil a connection: a few more tries
        for _ in range(10):
            if client is not None:
                break
            client = connect_once(args.serial)
        if client is None:
            return 3
        watch(client, args.seconds, args.marker_state)
    return 0


if __name__ == "__main__":
    sys.exit(main())
