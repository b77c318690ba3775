"""A peer that sends a robot's client messages of hostile sizes, then goes quiet.

    python hostile_sizes.py --serial SN --connect ENDPOINT [--samples MIB,...] [--replies MIB,...] [--wait S]
                            [--linger S]

Publishes on the robot's basic stream key one sample of each size: a real
sample of the robot's, taken from its stream, followed by zeros to the size
(whole up to its end, so a reader that kept part of it would see the robot's
values). Then answers the first queries on the robot's request key with one
reply of each size (zeros), and undeclares its queryable. Prints one JSON line
per message sent (with CLOCK_MONOTONIC "t") and {"ev": "done"} when it has
nothing left to send; gives up after --wait seconds without a subscriber or a
query. Then stays connected for --linger seconds, or until SIGTERM.
"""

import argparse
import json
import sys
import threading
import time

import zenoh

MIB = 1 << 20


def emit(**fields):
    print(json.dumps(dict(t=time.monotonic(), **fields)), flush=True)


def wait_until(predicate, seconds):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--serial", required=True)
    p.add_argument("--connect", required=True)
    p.add_argument("--samples", default="64,512", help="sample sizes in MiB, comma-separated (may be empty)")
    p.add_argument("--replies", default="64,512", help="reply sizes in MiB, comma-separated (may be empty)")
    p.add_argument("--wait", type=float, default=20.0)
    p.add_argument("--linger", type=float, default=60.0, help="seconds to stay connected after the last one")
    args = p.parse_args()
    samples = [int(s) * MIB for s in args.samples.split(",") if s]
    replies = [int(s) * MIB for s in args.replies.split(",") if s]
    prefix = "norvik/robot/" + args.serial

    config = zenoh.Config()
    config.insert_json5("mode", '"peer"')
    config.insert_json5("connect/endpoints", json.dumps([args.connect]))
    config.insert_json5("scouting/multicast/enabled", "false")
    with zenoh.open(config) as session:
        real = []
        sub = session.declare_subscriber(prefix + "/basic_stream_data", lambda s: real.append(s.payload.to_bytes())
                                         if not real else None)
        if not wait_until(lambda: real, args.wait):
            emit(ev="error", error="no sample of the robot's to start from")
            return 1
        sub.undeclare()

        pub = session.declare_publisher(prefix + "/basic_stream_data",
                                        congestion_control=zenoh.CongestionControl.BLOCK)
        if not wait_until(lambda: pub.matching_status.matching, args.wait):
            emit(ev="error", error="no subscriber")
            return 1
        for size in samples:
            payload = real[0] + bytes(size - len(real[0]))
            pub.put(payload)
            emit(ev="sample", size=size)
            del payload
            time.sleep(1.0)
        pub.undeclare()

        lock = threading.Lock()
        answered = threading.Event()

        def answer(query):
            with lock:
                size = replies.pop(0) if replies else None
            if size is None:
                return
            query.reply(query.key_expr, bytes(size))
            emit(ev="reply", size=size)
            if not replies:
                answered.set()

        ok = True
        if replies:
            queryable = session.declare_queryable(prefix + "/rpc", answer)
            ok = answered.wait(args.wait)
            queryable.undeclare()
        emit(ev="done" if ok else "error", error=None if ok else "not asked")
        # stay connected: a peer leaving is another matter than the sizes it sent
        wait_until(lambda: False, args.linger)
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
