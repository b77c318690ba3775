"""The secure deployment as examples/zenoh/secure-*.json5 give it, with certificates made for this run.

The example files are used as they stand: only the directory of the
certificates and the robot's serial number are put in for the run's own.
"""

import certs
from conftest import ROOT

EXAMPLES = ROOT / "examples" / "zenoh"
EXAMPLE_PKI = "/etc/norvik-tarn/pki/"
EXAMPLE_SERIAL = "Rizon-4s-062068"
ROUTER_ADDRESSES = ["198.18.1.1", "198.18.2.1", "198.18.3.1"]  # robot's, client's and rogue's side
ROGUE_SIDE_ADDRESS = "198.18.3.1"


class Pki:
    """The plant's authority with the router's, the robot's and a monitor's certificates (and the monitor's
    expired one), and what a rogue holds: a certificate of the plant under another name, and one of another
    authority under the robot's own name."""

    def __init__(self, directory, serial):
        self.dir = directory / "pki"
        self.plant = certs.authority(self.dir, "plant")
        certs.issue(self.plant, "router", ip=ROUTER_ADDRESSES)
        self.robot_name = "robot-" + serial
        certs.issue(self.plant, self.robot_name)
        certs.issue(self.plant, "monitor")
        certs.issue(self.plant, "monitor", days=-1, stem="monitor-expired")
        certs.issue(self.plant, "rogue")
        other = certs.authority(self.dir / "other", "other")
        certs.issue(other, self.robot_name)
        self.other_dir = other[0].parent


def example(name, pki, serial, out_dir, replace=()):
    """examples/zenoh/NAME with the run's certificates and serial, and each (old, new) of `replace`; its path."""
    text = (EXAMPLES / name).read_text()
    assert EXAMPLE_PKI in text, name
    text = text.replace(EXAMPLE_PKI, str(pki.dir) + "/").replace(EXAMPLE_SERIAL, serial)
    for old, new in replace:
        assert old in text, (name, old)
        text = text.replace(old, new)
    path = out_dir / ("%s-%d.json5" % (name.rsplit(".", 1)[0], len(list(out_dir.glob("*.json5")))))
    path.write_text(text)
    return path


def rogue_config(pki, serial, out_dir, cert="rogue.pem", key="rogue.key", pki_dir=None):
    """The robot's file, on the rogue's side of the router, showing another certificate."""
    robot = "robot-%s" % serial
    replace = [("tls/198.18.1.1:7447", "tls/%s:7447" % ROGUE_SIDE_ADDRESS),
               (robot + ".pem", cert), (robot + ".key", key)]
    if pki_dir is not None:
        replace.append((str(pki.dir) + "/" + cert, str(pki_dir) + "/" + cert))
        replace.append((str(pki.dir) + "/" + key, str(pki_dir) + "/" + key))
    return example("secure-robot.json5", pki, serial, out_dir, replace)
