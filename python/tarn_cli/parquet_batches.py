"""Whole batches gathered into one Parquet table a row group: each column built once, from NumPy.

A row of the states stream leaves the commanded values empty and the other
way round; so the batches of both streams go into one matrix of values with
a mask of what is empty, in the order they came.
"""

import numpy as np

from .columns import STATUS


class PendingBlocks:
    def __init__(self, pa, schema, state_width, action_width):
        self.pa, self.schema = pa, schema
        self.state_width, self.action_width = state_width, action_width
        self.blocks = []  # (stream, batches.Block)
        self.rows = 0

    def add(self, stream, block):
        self.blocks.append((stream, block))
        self.rows += len(block)

    def table(self):
        """The pending rows as one table (None without any); empties the list."""
        if not self.blocks:
            return None
        pa, rows, sw = self.pa, self.rows, self.state_width
        streams, index, received, stamps, stamped = [], [], [], np.zeros((rows, 2), np.int64), np.zeros(rows, bool)
        status = np.zeros((rows, len(STATUS)), dtype=np.int64)
        has_status = np.zeros(rows, dtype=bool)
        values = np.zeros((rows, sw + self.action_width))
        empty = np.ones(values.shape, dtype=bool)
        at = 0
        for stream, block in self.blocks:
            end = at + len(block)
            streams += [stream] * len(block)
            index.append(block.index)
            received.append(block.received_at)
            if block.stamp is not None:
                stamps[at:end], stamped[at:end] = block.stamp, True
            cols = slice(0, sw) if stream == "basic" else slice(sw, values.shape[1])
            values[at:end, cols] = block.values
            empty[at:end, cols] = False if block.missing is None else block.missing
            if block.status is not None:
                status[at:end], has_status[at:end] = block.status, True
            at = end
        no_stamp = ~stamped if not stamped.all() else None
        no_status = ~has_status
        columns = [pa.array(streams, pa.string()), pa.array(np.concatenate(index).astype(np.int64)),
                   pa.array(stamps[:, 0], pa.int32(), mask=no_stamp), pa.array(stamps[:, 1], pa.int64(), mask=no_stamp),
                   pa.array(np.concatenate(received))]
        columns += [pa.array(status[:, i], pa.int32(), mask=no_status) for i in range(2)]
        flags = (status[:, 2:] != 0).T.copy()
        columns += [pa.array(c, pa.bool_(), mask=no_status) for c in flags]
        values, empty = values.T.copy(), empty.T.copy()  # a column each, contiguous
        columns += [pa.array(v, pa.float64(), mask=e if e.any() else None) for v, e in zip(values, empty)]
        self.blocks, self.rows = [], 0
        return pa.Table.from_arrays(columns, schema=self.schema)
