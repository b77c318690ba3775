"""The control channel: change fault switches of a running simulator.

A query on <prefix>/sim/control whose payload is a JSON object of settings
to change (an empty payload changes nothing) is answered with a JSON object
{"settings": <all settings now in force>, "status": <counters>}. An
invalid change is refused with an error reply (a UTF-8 text) and changes
nothing.
"""

import json
import sys
import time

import zenoh

from .faults import SettingsError

SUFFIX = "/sim/control"


class ControlService:
    def __init__(self, board, status, key):
        self.board = board
        self.status = status  # callable -> dict
        self.key = key

    def __call__(self, query):
        try:
            text = query.payload.to_bytes().decode("utf-8") if query.payload is not None else ""
            changes = json.loads(text) if text.strip() else {}
            settings = self.board.change(changes)
            body = json.dumps({"settings": settings, "status": self.status()}, sort_keys=True)
            query.reply(self.key, body.encode("utf-8"), encoding=zenoh.Encoding.APPLICATION_JSON)
        except (ValueError, SettingsError) as e:  # bad JSON, bad UTF-8, bad setting
            query.reply_err(str(e).encode("utf-8"))
        except Exception as e:
            print("tarn-sim: control request failed: %r" % (e,), file=sys.stderr)
            query.reply_err(("internal error: %r" % (e,)).encode("utf-8"))
        finally:
            query.drop()


class ControlError(RuntimeError):
    pass


def send(session, prefix, changes=None, timeout=5.0):
    """Send a change to the simulator under `prefix`; returns its JSON answer.

    Raises ControlError on an error reply, TimeoutError when nothing answers.
    """
    payload = json.dumps(changes or {}).encode("utf-8")
    for reply in session.get(prefix + SUFFIX, payload=payload, timeout=timeout):
        if reply.ok is not None:
            return json.loads(reply.ok.payload.to_bytes().decode("utf-8"))
        raise ControlError(reply.err.payload.to_bytes().decode("utf-8", "replace"))
    raise TimeoutError("no simulator answers on " + prefix + SUFFIX)


def main(argv=None):
    """python -m tarn_sim.control SERIAL [JSON]: change a running simulator's switches."""
    from . import key_prefix

    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] in ("-h", "--help"):
        print(main.__doc__)
        return 0 if argv else 2
    changes = json.loads(argv[1]) if len(argv) > 1 else {}
    from .network import zenoh_config

    with zenoh.open(zenoh_config()) as session:
        # discovery takes a moment after the session opens; retry until the deadline
        deadline = time.monotonic() + 10.0
        while True:
            try:
                print(json.dumps(send(session, key_prefix(argv[0]), changes, timeout=1.0), indent=2, sort_keys=True))
                return 0
            except TimeoutError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.01)
            except ControlError as e:
                print("refused: %s" % e, file=sys.stderr)
                return 1


if __name__ == "__main__":
    sys.exit(main())
