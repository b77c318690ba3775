"""Writes the fuzzers' seed corpora from tarn-sim's own encoder, offline.

Usage: .venv/bin/python fuzz/make_corpus.py
Writes fuzz/corpus/<target>/<name> (small; committed): stream samples of
both profiles, a few of them with the simulator's faults, every request's
reply, primitive-state and plan lists, and serial numbers.
"""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "sim"))

from tarn_sim import wire  # noqa: E402
from tarn_sim.faults import Switchboard  # noqa: E402
from tarn_sim.groups import DUAL, SINGLE  # noqa: E402
from tarn_sim.motion import Robot  # noqa: E402
from tarn_sim.rpc import Answers  # noqa: E402
from tarn_sim.streams import StreamBuilder, StreamFaults  # noqa: E402

OUT = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def stream_samples():
    for profile in (SINGLE, DUAL):
        robot, builder = Robot(profile), StreamBuilder(profile)
        faults = {
            "good": StreamFaults(),
            "inconsistent": StreamFaults(inconsistent={"basic": True, "extra": True}),
            "invalid7": StreamFaults(invalid_group={"basic": 7, "extra": 7}),
        }
        for n, (label, fault) in enumerate(faults.items()):
            basic, extra = builder.build(robot.snapshot(1.5 + n), 1700000000, 1000 * n, fault)
            basic, extra = bytes(basic.to_bytes()), bytes(extra.to_bytes())
            name = f"{profile.name}_{label}"
            write("basic_stream", name, basic)
            write("extra_stream", name, extra)
            # the sample path's first byte picks the stream
            write("sample_path", name + "_basic", b"\x00" + basic)
            write("sample_path", name + "_extra", b"\x01" + extra)


def replies():
    for profile in (SINGLE, DUAL):
        answers = Answers(profile, Robot(profile), Switchboard())
        for code in (0, 1, 3, 4, 9, 10, 42):
            fields = answers.answer(code, [0, 2, 3, 4, 5], 2.0)
            write("rpc_reply", f"{profile.name}_{code}", bytes(wire.encode_reply(**fields).to_bytes()))
            if code == 3:
                write("primitive_states", profile.name, "\n".join(fields["strings"]).encode())
            if code == 4:
                write("plan_info", profile.name, "\n".join(fields["strings"]).encode())


def hand_made():
    write("primitive_states", "worked_example",
          b"jointGroup = 3\nprimitiveName = MoveL\nreachedTarget = 1\nspeed = 0.25\n"
          b"jointGroup = 4\nprimitiveName = Home\nmode = auto")
    write("primitive_states", "edges", b"jointGroup = 3\nprimitiveName = P\na = 007\nb = -0\nc = +5\nd = -\ne =\nf = 1e3 x")
    write("plan_info", "partial", b"pt\nnode\npath\n1s\n3\nplan\n0.5x\n2")
    for name, serial in {"plain": b"Rizon4-062068", "spaced": b"Abc 4s-123", "dashes": b"AB-CD-77",
                         "wild": b"ab-1/**", "under": b"ab_c-1", "dots": b"Rizon 4s-a.b+c:d"}.items():
        write("serial_number", name, serial)


if __name__ == "__main__":
    stream_samples()
    replies()
    hand_made()
