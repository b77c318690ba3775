"""Connecting to a robot, with the library's failures turned into one line each."""

import json
import os
import subprocess
import sys

from .errors import FAILED, INCOMPATIBLE, NO_ROBOT, USAGE, CliError

CLIENT_VERSION = "v2.1"
_PREFIX = "[norvik::tarn::Client] "


def load_module():
    try:
        import norviktarn
    except ImportError as e:
        raise CliError("cannot load the norviktarn module: %s" % e) from None
    return norviktarn


def normalise_serial(serial):
    """The serial as the robot's keys use it; only for serials the client accepted."""
    cut = serial.rfind("-")
    return serial[:cut].replace(" ", "-") + serial[cut:]


def connect(serial, verbose=False):
    """A connected norviktarn.Client, or CliError with the reason in a line."""
    norviktarn = load_module()
    try:
        return norviktarn.Client(serial, verbose=verbose)
    except ValueError:
        raise CliError("%r is not a robot serial number (expected something like \"Rizon 4s-062068\")" % serial,
                       USAGE) from None
    except RuntimeError as e:
        raise connection_error(serial, str(e)) from None


def connection_error(serial, text):
    if text.startswith(_PREFIX + "Failed to connect to"):
        return CliError("no robot answers as %s (check the network link, the serial number and any firewall)"
                        % normalise_serial(serial), NO_ROBOT)
    if text.startswith(_PREFIX + "Version of this client is incompatible"):
        found = raw_query(serial, ["version"]).get("version")
        told = "TARN server %s" % found if found else "another TARN server version"
        return CliError("robot %s runs %s; this tool speaks %s"
                        % (normalise_serial(serial), told, CLIENT_VERSION), INCOMPATIBLE)
    return CliError("robot %s: %s" % (normalise_serial(serial), text[len(_PREFIX):] if text.startswith(_PREFIX)
                                      else text), FAILED)


def start_raw_query(serial, what):
    """Starts `python -m tarn_cli.raw_query` (its own process, so its Zenoh runtime never meets the client's)."""
    env = dict(os.environ)
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env["PYTHONPATH"] = here + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
    return subprocess.Popen([sys.executable, "-m", "tarn_cli.raw_query", normalise_serial(serial)] + list(what),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)


def finish_raw_query(proc, timeout=8.0):
    """The raw query's answers as a dict ({"error": ...} when it could not ask)."""
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        return {"error": "the raw query did not finish"}
    try:
        return json.loads(out.decode("utf-8"))
    except ValueError:
        last = err.decode("utf-8", "replace").strip().splitlines()
        return {"error": last[-1] if last else "the raw query failed (status %s)" % proc.returncode}


def raw_query(serial, what, timeout=8.0):
    return finish_raw_query(start_raw_query(serial, what), timeout)
