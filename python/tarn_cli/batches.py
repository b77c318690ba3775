"""A batch of samples from the client (take_states / take_actions) as the recording's columns.

A batch never mixes samples whose groups or sizes differ, so it fits the
recording's layout as a whole (the usual case: one matrix of values, built
with a few concatenations) or not at all (an inconsistent sample without
joint data, a group that changed size): then each field is cut or padded to
its columns and what the batch lacks is marked missing.
"""

import numpy as np

from .columns import STATUS


class Block:
    """One stream's samples as arrays: index (n,) uint64, received_at (n,) float64, stamp (n, 2) int64
    or None (no group, so no stamp), values (n, width) float64, missing (n, width) bool or None (all
    there), status (n, 44) int64 for states, None for actions."""

    def __init__(self, index, received_at, stamp, values, missing=None, status=None):
        self.index, self.received_at, self.stamp = index, received_at, stamp
        self.values, self.missing, self.status = values, missing, status

    def __len__(self):
        return len(self.index)

    @property
    def exact(self):
        return self.missing is None and self.stamp is not None

    def rows(self, keep):
        """The block of the rows `keep` (an index array or a slice)."""
        def cut(a):
            return None if a is None else a[keep]

        return Block(self.index[keep], self.received_at[keep], cut(self.stamp), self.values[keep],
                     cut(self.missing), cut(self.status))

    def loose_values(self, row):
        """One row's values as a list, None where missing (the writers' per-sample form)."""
        values = self.values[row].tolist()
        if self.missing is not None:
            for i in np.flatnonzero(self.missing[row]).tolist():
                values[i] = None
        return values

    def stamp_of(self, row):
        return None if self.stamp is None else tuple(self.stamp[row].tolist())


def _stamp(by_group):
    """The robot's stamp of the batch: that of its first group (all groups carry the same)."""
    if not by_group:
        return None
    return np.asarray(next(iter(by_group.values())).timestamp, dtype=np.int64).reshape(-1, 2)


def _exact(records, n, groups, places):
    """The kept groups' values as one matrix; None when a field has another size than its columns."""
    parts = []
    for (_, fields), place in zip(groups, places):
        for field, names in fields:
            a = np.asarray(getattr(records[place], field), dtype=np.float64).reshape(n, -1)
            if a.shape[1] != len(names):
                return None
            parts.append(a)
    return np.concatenate(parts, axis=1) if parts else np.empty((n, 0))


def _values(by_group, n, groups, picks):
    """(values, missing) of the kept groups; missing None when the batch fits the layout exactly."""
    places, count = picks
    if len(by_group) == count:
        values = _exact(list(by_group.values()), n, groups, places)
        if values is not None:
            return values, None
    # another shape: each field cut or padded to its columns, missing groups left empty
    named = {g.name: r for g, r in by_group.items()}
    width = sum(len(p) for _, fields in groups for _, p in fields)
    values = np.full((n, width), np.nan)
    missing = np.ones((n, width), dtype=bool)
    at = 0
    for name, fields in groups:
        record = named.get(name)
        for field, names in fields:
            if record is not None:
                a = np.asarray(getattr(record, field), dtype=np.float64).reshape(n, -1)[:, :len(names)]
                values[:, at:at + a.shape[1]] = a
                missing[:, at:at + a.shape[1]] = False
            at += len(names)
    return values, missing


def _status(batch, n):
    columns = [batch.system_state, batch.safety_board_state, batch.estop_released, batch.enabling_device_on]
    out = np.empty((n, len(STATUS)), dtype=np.int64)
    for i, c in enumerate(columns):
        out[:, i] = c
    out[:, 4:24] = np.asarray(batch.digital_inputs).reshape(n, 20)
    out[:, 24:44] = np.asarray(batch.digital_outputs).reshape(n, 20)
    return out


def states(batch, layout):
    n = int(batch.count)
    values, missing = _values(batch.states, n, layout.state_groups, layout.state_picks)
    return Block(np.asarray(batch.index, dtype=np.uint64), np.asarray(batch.received_at, dtype=np.float64),
                 _stamp(batch.states), values, missing, _status(batch, n))


def actions(batch, layout):
    n = int(batch.count)
    values, missing = _values(batch.actions, n, layout.action_groups, layout.action_picks)
    return Block(np.asarray(batch.index, dtype=np.uint64), np.asarray(batch.received_at, dtype=np.float64),
                 _stamp(batch.actions), values, missing)
