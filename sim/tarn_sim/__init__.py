"""tarn-sim: a simulated Norvik robot controller data service.

It publishes the basic and extra stream data of one robot over Zenoh, answers
the robot's data requests, and can be told to misbehave in many precise ways
so that clients can be tested against every fault a real controller (or a
bad network) could show them. See sim/README.md for the options and the
control protocol.
"""

KEY_ROOT = "norvik/robot/"
SERVER_VERSION = "v2.1"


def key_prefix(serial):
    """The key prefix of the robot with this serial, used as given."""
    return KEY_ROOT + serial
