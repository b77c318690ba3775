"""Raw requests the client does not offer: the server's version text and the joint layout.

    python -m tarn_cli.raw_query SERIAL [version] [layout]

Prints one JSON object: {"version": "v2.1", "layout": [[group, start, dof], ...]}
(an entry is null when the robot gave no good answer), or {"error": TEXT}. It
runs in a process of its own: it opens an eclipse-zenoh session, which has a
Zenoh runtime apart from the one the norviktarn module carries.
"""

import json
import sys
import time

VERSION_CODE = 1
LAYOUT_CODE = 10
LAYOUT_GROUPS = (0, 2, 3, 4, 5)  # ALL, ARMS, ARM_1, ARM_2, EXT_AXIS


def _types():
    from zenoh.ext import Float32, Int32, UInt16

    request = tuple[UInt16, list[UInt16]]
    reply = tuple[UInt16, bool, list[UInt16], list[Int32], list[str], list[Float32], list[list[Float32]]]
    return UInt16, request, reply


def ask(session, key, code, groups, deadline):
    """The decoded reply tuple to request `code`, or None (no good reply before the deadline)."""
    from zenoh.ext import z_deserialize, z_serialize

    UInt16, _, reply_type = _types()
    payload = z_serialize((UInt16(code), [UInt16(g) for g in groups]))
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        replies = list(session.get(key, payload=payload, timeout=min(2.0, left)))
        for r in replies:
            if r.ok is None:
                continue
            try:
                reply = z_deserialize(reply_type, r.ok.payload)
            except Exception:
                continue
            if int(reply[0]) == code and reply[1]:
                return reply
        if replies:
            return None  # the robot answered, but not with success
        # nothing at all: this session has not found the robot yet
        time.sleep(0.05)


def query(serial, what, timeout=4.0):
    import zenoh

    out = {}
    key = "norvik/robot/%s/rpc" % serial
    with zenoh.open(zenoh.Config()) as session:
        deadline = time.monotonic() + timeout
        if "version" in what:
            reply = ask(session, key, VERSION_CODE, (), deadline)
            out["version"] = str(reply[4][0]) if reply and len(reply[4]) == 1 else None
        if "layout" in what:
            reply = ask(session, key, LAYOUT_CODE, LAYOUT_GROUPS, deadline)
            layout = None
            if reply and len(reply[2]) == len(reply[3]) == len(reply[5]):
                layout = [[int(g), int(s), float(d)] for g, s, d in zip(reply[2], reply[3], reply[5])]
            out["layout"] = layout
    return out


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if argv else 2
    try:
        import zenoh  # noqa: F401
    except ImportError:
        print(json.dumps({"error": "eclipse-zenoh is not installed (pip install 'norviktarn[info]')"}))
        return 0
    what = argv[1:] or ["version", "layout"]
    try:
        print(json.dumps(query(argv[0], what)))
    except Exception as e:  # a Zenoh failure: the caller shows it as a note
        print(json.dumps({"error": "raw query failed: %s" % e}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
