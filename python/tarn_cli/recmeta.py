"""What a recording is: the robot, the server and library versions, the joint layout, the start and units.

One flat dict of texts (JSON inside for the layout and the units), the same
for every format: CSV keeps it in a side file (FILE.meta.json, so the CSV
stays one header line and rows), Parquet in the schema's metadata, MCAP in
metadata records.
"""

import datetime
import json
import time


def build(serial, server_version, joint_layout, library_version, layout, every):
    """joint_layout: {group: (start, dof)} as the client learned it."""
    wall, mono = time.time_ns(), time.monotonic_ns()
    return {
        "serial": serial,
        "server_version": server_version,
        "joint_layout": json.dumps({g: list(v) for g, v in joint_layout.items()}),
        "start": datetime.datetime.fromtimestamp(wall / 1e9, datetime.timezone.utc).isoformat(),
        "received_at_offset_ns": str(wall - mono),  # wall clock = received_at + this
        "library_version": library_version,
        "groups": ",".join(layout.group_names()),
        "every": str(every),
        "kept": "every sample" if every == 1 else "every %d-th sample of each stream" % every,
        "columns": json.dumps(layout.columns),
        "units": json.dumps(layout.units(), ensure_ascii=False),
    }


def side_path(path):
    return str(path) + ".meta.json"


def parsed(meta, key, default=None):
    try:
        return json.loads(meta[key])
    except (KeyError, TypeError, ValueError):
        return default
