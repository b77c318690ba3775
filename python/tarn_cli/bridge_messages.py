"""A sample's messages for tarn bridge: the topics and CDR messages of the MCAP recordings (mcap_topics).

The bridge sends a stream's newest sample now and then, not every one, so a
message is packed on its own with its topic's Shape, and only for the topics
a viewer reads.
"""

from . import mcap_topics
from .mcap_writer import ros_time
from .writers import Rows


class BridgeMessages:
    def __init__(self, layout):
        self.rows = Rows(layout)
        self.groups = mcap_topics.topics(layout)  # (basic, extra)
        self.head = {s: mcap_topics.sample_topic(s) for s in ("basic", "extra")}
        self.status = mcap_topics.status_topic()

    def topics(self):
        """Every topic, in the order an MCAP recording has its channels."""
        basic, extra = self.groups
        return [self.head["basic"], self.status] + basic + [self.head["extra"]] + extra

    def basic(self, sample, wanted):
        """[(topic name, message)] of a StatesSample, for the topics `wanted(name)` accepts."""
        stamp, values, exact = self.rows.states(sample)
        return self._pack(self.head["basic"], self.groups[0], sample.index, stamp, values, exact, wanted,
                          self.rows.status(sample))

    def extra(self, sample, wanted):
        """The same for an ActionsSample."""
        stamp, values, exact = self.rows.actions(sample)
        return self._pack(self.head["extra"], self.groups[1], sample.index, stamp, values, exact, wanted)

    def _pack(self, head, topics, index, stamp, values, exact, wanted, status=None):
        if stamp is not None and not 0 <= stamp[1] < 1_000_000_000:
            stamp = ros_time(stamp)
        sec, nsec = (0, 0) if stamp is None else stamp
        out = []
        if wanted(head.name):
            out.append((head.name, head.shape.pack([sec, nsec, index, stamp is not None])))
        if status is not None and wanted(self.status.name):
            out.append((self.status.name, self.status.shape.pack([sec, nsec] + list(status))))
        for topic in topics:
            if not wanted(topic.name):
                continue
            vals = topic.take(values)
            if not exact and None in vals:
                continue  # the sample lacks this group: no message
            out.append((topic.name, topic.shape.pack((sec, nsec) + vals)))
        return out
