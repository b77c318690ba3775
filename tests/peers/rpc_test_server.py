"""A scriptable robot-side request/reply peer for the tests.

Built on eclipse-zenoh and its zenoh.ext serializer, independently of the
library under test. It answers every query on PREFIX/<mode>/rpc according to
<mode>:

  good              one good reply echoing the request
  error             one error reply
  error_then_good   an error reply, then a good one
  two_good          two good replies ("first", then "second")
  drop              no reply; the query ends at once
  hold<ms>          no reply; the query is held for <ms> milliseconds
  late<ms>          one good reply after <ms> milliseconds
  undecodable       a reply whose payload is not an RPCReply
  trailing          a good reply with one extra byte
  cut               a reply that ends after float_container

A good reply echoes the request: request_id as sent, success True, the
request's joint groups, int_container [request_id, len(groups)],
string_container [tag], float_container [0.5, -1.25], float2d_container
[[1, 2, 3], []].

Prints "ready" on stdout once the queryable is declared; stops on SIGINT or
SIGTERM.
"""

import argparse
import re
import signal
import sys
import threading

import zenoh
from zenoh.ext import Float32, Int32, UInt16, z_deserialize, z_serialize


def decode_request(query):
    payload = query.payload
    if payload is None:
        return 0, []
    request_id, groups = z_deserialize(tuple[UInt16, list[UInt16]], payload)
    return int(request_id), [int(g) for g in groups]


def reply_fields(request_id, groups, tag):
    return (
        UInt16(request_id),
        True,
        [UInt16(g) for g in groups],
        [Int32(request_id), Int32(len(groups))],
        [tag],
        [Float32(0.5), Float32(-1.25)],
        [[Float32(1.0), Float32(2.0), Float32(3.0)], []],
    )


def good_payload(query, tag="first"):
    request_id, groups = decode_request(query)
    return z_serialize(reply_fields(request_id, groups, tag))


def answer(query, mode):
    key = str(query.key_expr)
    enc = zenoh.Encoding.ZENOH_SERIALIZED
    if mode == "good":
        query.reply(key, good_payload(query), encoding=enc)
    elif mode == "error":
        query.reply_err(z_serialize("refused"))
    elif mode == "error_then_good":
        query.reply_err(z_serialize("refused"))
        query.reply(key, good_payload(query), encoding=enc)
    elif mode == "two_good":
        query.reply(key, good_payload(query, "first"), encoding=enc)
        query.reply(key, good_payload(query, "second"), encoding=enc)
    elif mode == "drop":
        pass
    elif mode.startswith("hold"):
        delay = int(mode[4:]) / 1000.0
        threading.Timer(delay, query.drop).start()
        return
    elif mode.startswith("late"):
        delay = int(mode[4:]) / 1000.0
        payload = good_payload(query, "late")

        def reply_late():
            query.reply(key, payload, encoding=enc)
            query.drop()

        threading.Timer(delay, reply_late).start()
        return
    elif mode == "undecodable":
        query.reply(key, b"\xff", encoding=enc)
    elif mode == "trailing":
        query.reply(key, good_payload(query).to_bytes() + b"\x00", encoding=enc)
    elif mode == "cut":
        request_id, groups = decode_request(query)
        head = reply_fields(request_id, groups, "cut")[:6]
        query.reply(key, z_serialize(head), encoding=enc)
    else:
        query.reply_err(z_serialize("unknown mode " + mode))
    # Python finalizers may run late; end the query as soon as it is answered.
    query.drop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prefix", required=True, help="key prefix to serve under")
    args = parser.parse_args()

    pattern = re.compile(re.escape(args.prefix) + r"/([^/]+)/rpc$")
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    def on_query(query):
        match = pattern.match(str(query.key_expr))
        if match:
            answer(query, match.group(1))

    with zenoh.open(zenoh.Config()) as session:
        queryable = session.declare_queryable(args.prefix + "/*/rpc", on_query)
        print("ready", flush=True)
        while not stop.wait(0.1):
            pass
        queryable.undeclare()
    return 0


if __name__ == "__main__":
    sys.exit(main())
