"""One stream's recorded samples, and the holes in their index and in the robot's stamps."""

import numpy as np


class StreamTally:
    """Counts one stream's recorded samples and finds holes in its index and in the robot's stamps.

    Takes a batch at a time (index and stamp arrays); a batch's first step is from the last
    sample of the batch before."""

    WARMUP = 100  # steps before the usual stamp step is known

    def __init__(self):
        self.recorded = 0
        self.first_index = self.last_index = None
        self.index_gaps = 0          # samples the client took but the file lacks
        self.first_stamp = self.last_stamp = None
        self.no_stamp = 0            # inconsistent samples: no group, so no stamp
        self.backwards = 0           # steps of zero or less: repeated or reordered stamps
        self.stamp_missing = 0       # samples missing between stamps, in usual steps
        self.step = None             # the usual step, ns
        self._warmup = []

    def add(self, index, stamps):
        """index: (n,) integers; stamps: (n, 2) (sec, nsec), or None for samples without one."""
        index = np.asarray(index, dtype=np.int64)
        n = len(index)
        if not n:
            return
        self.recorded += n
        if self.first_index is None:
            self.first_index = int(index[0])
        else:
            index = np.concatenate([[self.last_index], index])
        self.index_gaps += int(np.maximum(np.diff(index) - 1, 0).sum())
        self.last_index = int(index[-1])
        if stamps is None:
            self.no_stamp += n
            return
        ns = np.asarray(stamps, dtype=np.int64).reshape(-1, 2) @ np.array([1_000_000_000, 1], dtype=np.int64)
        if self.last_stamp is None:
            self.first_stamp = int(ns[0])
        else:
            ns = np.concatenate([[self.last_stamp], ns])
        self.last_stamp = int(ns[-1])
        self._steps(np.diff(ns))

    def _steps(self, d):
        self.backwards += int(np.count_nonzero(d <= 0))
        d = d[d > 0]
        if self.step is None:
            need = self.WARMUP - len(self._warmup)
            self._warmup += d[:need].tolist()
            d = d[need:]
            if len(self._warmup) >= self.WARMUP:
                self.finish()
        if self.step is not None and len(d):
            far = d[d > 1.5 * self.step]
            self.stamp_missing += int((np.rint(far / self.step) - 1).sum())

    def finish(self):
        if self.step is None and self._warmup:
            steps = sorted(self._warmup)
            self.step = steps[len(steps) // 2]
            pending, self._warmup = self._warmup, []
            self._steps(np.array(pending, dtype=np.int64))

    def expected(self):
        """Samples between the first and last stamp, counted in usual steps (None without two stamps)."""
        if self.first_stamp is None or self.step is None or self.last_stamp == self.first_stamp:
            return None
        return round((self.last_stamp - self.first_stamp) / self.step) + 1
