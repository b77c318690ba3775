"""What a recording lacks, in three counts that never overlap, named for where the samples went."""

class Losses:
    """never_arrived: gaps in the robot's stamps that no drop or bad sample explains (the robot did not
    send them, or the network lost them); dropped: samples the client took that the tool's queue had no
    room for; malformed: samples that arrived but did not decode."""

    def __init__(self, never_arrived=0, dropped=0, malformed=0):
        self.never_arrived, self.dropped, self.malformed = never_arrived, dropped, malformed

    @classmethod
    def count(cls, tallies, before, now):
        """From the streams' StreamTally and their health at the start and now."""
        malformed = {k: now[k].malformed - before[k].malformed for k in tallies}
        # the index numbers every sample the client took: a hole in it is a sample the queue dropped
        dropped = {k: max(now[k].queue_dropped - before[k].queue_dropped, t.index_gaps) for k, t in tallies.items()}
        # a dropped or malformed sample leaves a gap in the stamps too; only the rest never arrived
        # (the extra stream has no stamps of its own)
        never = max(0, tallies["basic"].stamp_missing - dropped["basic"] - malformed["basic"])
        return cls(never, sum(dropped.values()), sum(malformed.values()))

    @property
    def total(self):
        return self.never_arrived + self.dropped + self.malformed

    def __str__(self):
        return "%d never arrived, %d dropped by the tool, %d malformed" % (
            self.never_arrived, self.dropped, self.malformed)
