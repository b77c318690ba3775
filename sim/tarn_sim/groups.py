"""Joint groups and the robot profiles the simulator can pretend to be.

A profile fixes how many joints the robot has, which joint groups its
streams list (and in which order), and where each group sits in the full
joint vector. Groups the robot lacks still have a layout entry, with DoF 0
and a start index at the end of the vector, so that a client asking for
every group gets a complete and cuttable answer.
"""

from dataclasses import dataclass

ALL = 0
ARMS = 2
ARM_1 = 3
ARM_2 = 4
EXT_AXIS = 5

NAMES = {ALL: "ALL", ARMS: "ARMS", ARM_1: "ARM_1", ARM_2: "ARM_2", EXT_AXIS: "EXT_AXIS"}

ARM_DOF = 7


@dataclass(frozen=True)
class Profile:
    name: str
    dof: int
    # groups named in the streams, in stream order; cartesian entry n is listed[n]
    listed: tuple
    # group -> (start index, DoF) in the full joint vector
    layout: dict
    arms: int
    ext_axis: bool

    def start(self, group):
        return self.layout[group][0]

    def group_dof(self, group):
        return self.layout[group][1]

    def missing_group(self):
        """A group value the robot does not have: an arm or axis it lacks, else 6 (no group at all)."""
        for g in (ARM_2, EXT_AXIS):
            if g not in self.listed:
                return g
        return 6


SINGLE = Profile(
    name="single",
    dof=7,
    listed=(ARM_1,),
    layout={ALL: (0, 7), ARMS: (0, 7), ARM_1: (0, 7), ARM_2: (7, 0), EXT_AXIS: (7, 0)},
    arms=1,
    ext_axis=False,
)

DUAL = Profile(
    name="dual",
    dof=15,
    listed=(ARMS, ARM_1, ARM_2, EXT_AXIS),
    layout={ALL: (0, 15), ARMS: (0, 14), ARM_1: (0, 7), ARM_2: (7, 7), EXT_AXIS: (14, 1)},
    arms=2,
    ext_axis=True,
)

PROFILES = {p.name: p for p in (SINGLE, DUAL)}
