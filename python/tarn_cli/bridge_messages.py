"""A sample's messages for tarn bridge: the topics and CDR messages of the MCAP recordings (mcap_topics).

The bridge sends a stream's newest sample now and then, not every one, so a
message is packed on its own with its topic's Shape, and only for the topics
a viewer reads.
"""

from . import mcap_topics
from .mcap_writer import ros_time


def _stamp(by_group):
    """The robot's stamp of a sample (every group carries the same), None for one without groups."""
    return next(iter(by_group.values())).timestamp if by_group else None


def _values(by_group, groups):
    """The kept groups' values in the layout's order (what Topic.positions index), or None when the
    sample lacks one of them or a field has another size: its group messages are then left out."""
    named = {g.name: r for g, r in by_group.items()}
    out = []
    for name, fields in groups:
        record = named.get(name)
        if record is None:
            return None
        for field, parts in fields:
            values = getattr(record, field)
            if len(values) != len(parts):
                return None
            out += values
    return out


def _status(sample):
    return ([sample.system_state, sample.safety_board_state, sample.estop_released, sample.enabling_device_on]
            + list(sample.digital_inputs) + list(sample.digital_outputs))


class BridgeMessages:
    def __init__(self, layout):
        self.layout = layout
        self.groups = mcap_topics.topics(layout)  # (basic, extra)
        self.head = {s: mcap_topics.sample_topic(s) for s in ("basic", "extra")}
        self.status = mcap_topics.status_topic()

    def topics(self):
        """Every topic, in the order an MCAP recording has its channels."""
        basic, extra = self.groups
        return [self.head["basic"], self.status] + basic + [self.head["extra"]] + extra

    def basic(self, sample, wanted):
        """[(topic name, message)] of a StatesSample, for the topics `wanted(name)` accepts."""
        return self._pack(self.head["basic"], self.groups[0], sample.index, _stamp(sample.states),
                          _values(sample.states, self.layout.state_groups), wanted, _status(sample))

    def extra(self, sample, wanted):
        """The same for an ActionsSample."""
        return self._pack(self.head["extra"], self.groups[1], sample.index, _stamp(sample.actions),
                          _values(sample.actions, self.layout.action_groups), wanted)

    def _pack(self, head, topics, index, stamp, values, wanted, status=None):
        if stamp is not None and not 0 <= stamp[1] < 1_000_000_000:
            stamp = ros_time(stamp)
        sec, nsec = (0, 0) if stamp is None else stamp
        out = []
        if wanted(head.name):
            out.append((head.name, head.shape.pack([sec, nsec, index, stamp is not None])))
        if status is not None and wanted(self.status.name):
            out.append((self.status.name, self.status.shape.pack([sec, nsec] + list(status))))
        if values is None or stamp is None:
            return out
        for topic in topics:
            if wanted(topic.name):
                out.append((topic.name, topic.shape.pack((sec, nsec) + topic.take(values))))
        return out
