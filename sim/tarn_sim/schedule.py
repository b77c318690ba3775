"""A drift-free periodic schedule on the monotonic clock.

Tick k is due at start + k * period, whatever the time spent between
ticks, so the mean rate is exact. A tick that comes late is taken at once;
when the loop falls further behind than `max_lag` (the process was stopped,
the machine overloaded), the missed ticks are skipped and counted rather
than sent in a burst.
"""

import time


class Ticker:
    def __init__(self, period, max_lag=0.05, clock=time.monotonic, sleep=time.sleep, start=None):
        if period <= 0:
            raise ValueError("period must be positive")
        self.period = period
        self.max_lag = max(max_lag, period)
        self._clock = clock
        self._sleep = sleep
        self.start = clock() if start is None else start
        self.slot = 0      # index of the next due tick
        self.skipped = 0   # ticks dropped after falling behind
        self.late = 0      # ticks taken after their due time plus one period

    def due(self):
        return self.start + self.slot * self.period

    def wait(self, should_stop, poll=0.1):
        """Sleep until the next tick; returns its slot, or None if should_stop()."""
        while True:
            if should_stop():
                return None
            now = self._clock()
            due = self.due()
            if now < due:
                self._sleep(min(due - now, poll))
                continue
            behind = now - due
            if behind > self.max_lag:
                missed = int(behind / self.period)
                self.slot += missed
                self.skipped += missed
            elif behind > self.period:
                self.late += 1
            slot = self.slot
            self.slot += 1
            return slot
