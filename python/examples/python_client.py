#!/usr/bin/env python3
"""Connects to a Norvik robot and prints what it reports, once.

    PYTHONPATH=build/python python3.10 python/examples/python_client.py "AB-CD-77"

(or with norviktarn installed by `pip install .`). Run it on the robot's
network; every call here only reads.
"""

import argparse
import sys

import norviktarn


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("serial", help='robot serial number, e.g. "AB-CD-77"')
    parser.add_argument("--verbose", action="store_true", help="log the start-up sequence")
    args = parser.parse_args()

    try:
        client = norviktarn.Client(robot_sn=args.serial, verbose=args.verbose)
    except ValueError as e:  # malformed serial number
        print(e, file=sys.stderr)
        return 2
    except RuntimeError as e:  # no robot, or one this client cannot talk to
        print(e, file=sys.stderr)
        return 1

    groups = client.groups()
    print("connected to %s: %s" % (args.serial, ", ".join(group.name for group in groups)))
    for group, state in client.states().items():
        q = ", ".join("%.3f" % v for v in state.q)
        print("%s: %d joints, q = [%s], TCP at %s" % (group.name, len(state.q), q,
                                                      ["%.3f" % v for v in state.tcp_pose[:3]]))

    try:
        info = client.plan_info()
        print("plan %s, node %s (%s), velocity scale %.2f%s" % (
            info.assigned_plan_name, info.node_name, info.pt_name, info.velocity_scale,
            ", waiting for a step" if info.waiting_for_step else ""))
        for group, (first, second) in client.configuration_score().items():
            print("%s: configuration scores %.0f and %.0f of 100" % (group.name, first, second))
    except RuntimeError as e:  # a request the robot did not answer
        print(e, file=sys.stderr)

    print("emergency stop released: %s, enabling device on: %s" % (client.estop_released(),
                                                                   client.enabling_device_on()))
    print("digital inputs: %s" % "".join("1" if bit else "0" for bit in client.digital_inputs()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
