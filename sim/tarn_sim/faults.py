"""Fault switches: what the simulator gets wrong, and how to ask for it.

Settings are a plain JSON object, the same whether they come from
the command line or from the control channel at run time. A change is a
partial object: only the keys it names change; inside the per-code and
per-stream maps only the entries it names change, and null clears one.
"""

import copy
import math
import threading

from .streams import MALFORMED_KINDS, STREAMS

RPC_MODES = ("drop", "error", "fail", "wrong-id", "delay")
START_ID_FAULTS = ("size-mismatch", "negative-dof", "nan-dof", "inf-dof", "negative-start")
MANIPULABILITY_FAULTS = ("short", "size-mismatch")
PRIMITIVE_FAULTS = ("missing-marker", "duplicate-marker", "unknown-group")
PLAN_FAULTS = ("short", "long", "bad-velocity")

DEFAULTS = {
    "version_reply": "v2.1",
    "rpc": {},
    "malformed": {"basic": None, "extra": None},
    "inconsistent": {"basic": False, "extra": False},
    "invalid_group": {"basic": None, "extra": None},
    "start_id": None,
    "manipulability": None,
    "primitive": None,
    "primitive_corrupt": 0,
    "plan": None,
    "paused": False,
    "system_state": None,
    "safety_board_state": None,
    "estop_released": None,
    "enabling_device_on": None,
}


class SettingsError(ValueError):
    pass


def _choice(key, value, choices):
    if value is not None and value not in choices:
        raise SettingsError("%s: %r is not one of %s" % (key, value, ", ".join(choices)))
    return value


def _int(key, value, lo, hi, allow_none=True):
    if value is None and allow_none:
        return None
    if isinstance(value, bool) or not isinstance(value, int) or not lo <= value <= hi:
        raise SettingsError("%s: %r is not an integer in %d..%d" % (key, value, lo, hi))
    return value


def _bool(key, value, allow_none=False):
    if value is None and allow_none:
        return None
    if not isinstance(value, bool):
        raise SettingsError("%s: %r is not true or false" % (key, value))
    return value


def parse_rpc_mode(code, mode):
    """'drop', 'error', 'fail', 'wrong-id' or 'delay:MS'; None clears."""
    if mode is None:
        return None
    if not isinstance(mode, str):
        raise SettingsError("rpc %s: %r is not a mode" % (code, mode))
    name, _, arg = mode.partition(":")
    if name not in RPC_MODES:
        raise SettingsError("rpc %s: unknown mode %r (one of %s)" % (code, mode, ", ".join(RPC_MODES)))
    if name == "delay":
        try:
            ms = float(arg)
        except ValueError:
            raise SettingsError("rpc %s: delay needs milliseconds, as delay:500" % code) from None
        if not math.isfinite(ms) or ms < 0 or ms > 600000:
            raise SettingsError("rpc %s: delay %r out of range" % (code, arg))
    elif arg:
        raise SettingsError("rpc %s: mode %s takes no argument" % (code, name))
    return mode


def parse_malformed(stream, text):
    """'KIND' or 'KIND:RATIO' (ratio in (0, 1], default 1); None clears."""
    if text is None:
        return None
    if not isinstance(text, str):
        raise SettingsError("malformed %s: %r is not KIND[:RATIO]" % (stream, text))
    kind, _, ratio = text.partition(":")
    _choice("malformed " + stream, kind, MALFORMED_KINDS)
    if ratio:
        try:
            r = float(ratio)
        except ValueError:
            r = float("nan")
        if not 0.0 < r <= 1.0:
            raise SettingsError("malformed %s: ratio %r must be in (0, 1]" % (stream, ratio))
    return text


def malformed_kind_ratio(text):
    """(kind, ratio) of a validated malformed setting."""
    if text is None:
        return None
    kind, _, ratio = text.partition(":")
    return kind, float(ratio) if ratio else 1.0


def parse_primitive(text):
    if text is None:
        return None
    if not isinstance(text, str):
        raise SettingsError("primitive: %r is not a fault name" % (text,))
    name, _, arg = text.partition(":")
    _choice("primitive", name, PRIMITIVE_FAULTS)
    if arg:
        if name != "unknown-group":
            raise SettingsError("primitive: %s takes no argument" % name)
        try:
            group = int(arg)
        except ValueError:
            raise SettingsError("primitive: unknown-group:%s needs an integer group" % arg) from None
        _int("primitive unknown-group", group, 0, 65535, allow_none=False)
    return text


def _streams(key, value):
    if not isinstance(value, dict):
        raise SettingsError("%s: must be an object keyed by basic, extra or both" % key)
    out = {}
    for stream, v in value.items():
        names = STREAMS if stream == "both" else (stream,)
        if stream != "both" and stream not in STREAMS:
            raise SettingsError("%s: unknown stream %r" % (key, stream))
        for s in names:
            out[s] = v
    return out


def apply_changes(settings, changes, initial):
    """New settings: `settings` with the partial object `changes` applied.

    "reset": true first goes back to `initial`. Raises SettingsError and
    leaves `settings` alone when anything in `changes` is invalid.
    """
    if not isinstance(changes, dict):
        raise SettingsError("settings must be a JSON object")
    new = copy.deepcopy(initial if changes.get("reset") else settings)
    for key, value in changes.items():
        if key == "reset":
            _bool("reset", value)
        elif key == "version_reply":
            if value is not None and not isinstance(value, str):
                raise SettingsError("version_reply: %r is not a string or null" % (value,))
            new[key] = value
        elif key == "rpc":
            if not isinstance(value, dict):
                raise SettingsError("rpc: must be an object of request code to mode")
            for code, mode in value.items():
                try:
                    c = int(code)
                except (TypeError, ValueError):
                    raise SettingsError("rpc: %r is not a request code" % (code,)) from None
                _int("rpc code", c, 0, 65535, allow_none=False)
                mode = parse_rpc_mode(c, mode)
                if mode is None:
                    new["rpc"].pop(str(c), None)
                else:
                    new["rpc"][str(c)] = mode
        elif key == "malformed":
            for s, v in _streams(key, value).items():
                new[key][s] = parse_malformed(s, v)
        elif key == "inconsistent":
            for s, v in _streams(key, value).items():
                new[key][s] = _bool("inconsistent " + s, v)
        elif key == "invalid_group":
            for s, v in _streams(key, value).items():
                new[key][s] = _int("invalid_group " + s, v, 0, 65535)
        elif key == "start_id":
            new[key] = _choice(key, value, START_ID_FAULTS)
        elif key == "manipulability":
            new[key] = _choice(key, value, MANIPULABILITY_FAULTS)
        elif key == "primitive":
            new[key] = parse_primitive(value)
        elif key == "primitive_corrupt":
            new[key] = _int(key, value, 0, 1000000, allow_none=False)
        elif key == "plan":
            new[key] = _choice(key, value, PLAN_FAULTS)
        elif key == "paused":
            new[key] = _bool(key, value)
        elif key == "system_state":
            new[key] = _int(key, value, 0, 65535)
        elif key == "safety_board_state":
            new[key] = _int(key, value, -32768, 32767)
        elif key in ("estop_released", "enabling_device_on"):
            new[key] = _bool(key, value, allow_none=True)
        else:
            raise SettingsError("unknown setting %r" % key)
    return new


class Switchboard:
    """The settings in force, shared by the stream loop and the request handlers."""

    def __init__(self, initial=None):
        self._lock = threading.Lock()
        self._initial = apply_changes(DEFAULTS, initial or {}, DEFAULTS)
        self._settings = copy.deepcopy(self._initial)

    def get(self):
        """The current settings; treat as read-only (changes replace the whole object)."""
        return self._settings

    def change(self, changes):
        with self._lock:
            self._settings = apply_changes(self._settings, changes, self._initial)
            return copy.deepcopy(self._settings)

    def take_corrupt(self):
        """Whether this primitive-state reply is to be corrupted; counts one down."""
        with self._lock:
            left = self._settings["primitive_corrupt"]
            if left <= 0:
                return False
            s = dict(self._settings)
            s["primitive_corrupt"] = left - 1
            self._settings = s
            return True
