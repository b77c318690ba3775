"""Stream health as the tool shows it: the library's counters plus a measured rate."""

import collections
import time


class StreamMeter:
    """Samples one stream's health; the rate is measured over the last `window` seconds."""

    def __init__(self, client, kind, window=1.0):
        self.client, self.kind, self.window = client, kind, window
        self._history = collections.deque()
        self.health = None
        self.rate = None

    def update(self, now=None):
        now = time.monotonic() if now is None else now
        self.health = self.client.stream_health(self.kind)
        self._history.append((now, self.health.received))
        while len(self._history) > 2 and now - self._history[1][0] >= self.window:
            self._history.popleft()
        (t0, n0), (t1, n1) = self._history[0], self._history[-1]
        self.rate = (n1 - n0) / (t1 - t0) if t1 - t0 >= 0.05 else self.rate
        return self.health

    def freshness(self, stale_after):
        return self.health.freshness(stale_after).name if self.health is not None else "NEVER_RECEIVED"


def describe(name, meter, stale_after):
    h = meter.health
    from . import fmt

    state = {"LIVE": "live", "STALE": "stale", "NEVER_RECEIVED": "never received"}[meter.freshness(stale_after)]
    parts = ["%s: %s" % (name, state)]
    if h.received:
        parts.append(fmt.rate(meter.rate))
        parts.append("age %s" % fmt.age(h.age))
    parts.append("%d received" % h.received)
    parts.append("%d malformed" % h.malformed)
    return ", ".join(parts)


def as_dict(meter, stale_after):
    h = meter.health
    return {"freshness": meter.freshness(stale_after), "received": h.received, "malformed": h.malformed,
            "age": h.age, "rate": meter.rate, "robot_stamp": list(h.robot_stamp)}
