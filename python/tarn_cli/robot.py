"""Connecting to a robot, with the library's failures turned into one line each."""

from .errors import FAILED, INCOMPATIBLE, NO_ROBOT, USAGE, CliError
from .fmt import shown

CLIENT_VERSION = "v2.1"
_PREFIX = "[norvik::tarn::Client] "


_log_routed = False


def load_module():
    """The norviktarn module, its log lines going to Python's logging (liblog), never to stdout."""
    try:
        import norviktarn
    except ImportError as e:
        raise CliError("cannot load the norviktarn module: %s" % e) from None
    global _log_routed
    if not _log_routed:
        norviktarn.log_to_python()
        _log_routed = True
    return norviktarn


def checked_serial(serial):
    """The serial as the robot's keys use it, by the library's own check; CliError when it refuses it.

    Call it before anything reaches the network: no key is ever built from a serial it refused."""
    norviktarn = load_module()
    try:
        return norviktarn.normalize_serial(serial)
    except ValueError as e:
        raise CliError("%r is not a robot serial number: %s (expected something like \"Rizon 4s-062068\")"
                       % (serial, library_text(str(e))), USAGE) from None


def add_network_options(p):
    """--config and --connect, for the subcommands that reach a robot."""
    g = p.add_argument_group("network (default: the file ZENOH_CONFIG names, else Zenoh's defaults: "
                             "robots found by multicast scouting on this network)")
    x = g.add_mutually_exclusive_group()
    x.add_argument("--config", metavar="FILE", help="Zenoh configuration file (JSON5, as Zenoh's own tools take it)")
    x.add_argument("--connect", action="append", metavar="ENDPOINT",
                   help="reach robots through the Zenoh router at ENDPOINT, e.g. tcp/198.18.0.2:7447 "
                        "(repeatable; client mode, multicast scouting off)")


def use_network(args):
    """Chooses the Zenoh configuration the command line names, before anything connects."""
    norviktarn = load_module()
    try:
        if getattr(args, "config", None):
            norviktarn.use_zenoh_config(args.config)
        elif getattr(args, "connect", None):
            norviktarn.use_zenoh_config(connect=args.connect)
    except ValueError as e:
        # the file named cannot be used (1), or an endpoint is not one (2)
        raise CliError(library_text(str(e)), FAILED if args.config else USAGE) from None


def connect(serial, verbose=False):
    """A connected norviktarn.Client, or CliError with the reason in a line."""
    name = checked_serial(serial)
    try:
        return load_module().Client(serial, verbose=verbose)
    except RuntimeError as e:
        raise connection_error(name, str(e)) from None


def network_error(text):
    """A CliError for the session's own failures, or None for any other text."""
    if text.startswith("Failed to open session with "):
        return CliError("cannot reach the network: " + text[len("Failed to open session with "):], NO_ROBOT)
    if text.startswith("Failed to load ") or text.startswith("Failed to set "):
        return CliError(text[len("Failed to "):], FAILED)
    return None


def connection_error(name, text):
    """The CliError for a failed connection to the robot whose keys use `name` (a checked serial)."""
    network = network_error(text)
    if network is not None:
        return network
    if text.startswith(_PREFIX + "Failed to connect to"):
        return CliError("no robot answers as %s (check the network link, the serial number and any firewall)"
                        % name, NO_ROBOT)
    if text.startswith(_PREFIX + "Version of this client is incompatible"):
        found = server_version_of(name)
        told = "TARN server %s" % shown(found) if found else "another TARN server version"
        return CliError("robot %s runs %s; this tool speaks %s" % (name, told, CLIENT_VERSION), INCOMPATIBLE)
    return CliError("robot %s: %s" % (name, library_text(text)), FAILED)


def server_version_of(serial, timeout=1.0):
    """The version the robot reports when asked along with every other robot, or None."""
    try:
        for found in load_module().list_robots(timeout):
            if found.serial == serial:
                return found.server_version or None
    except RuntimeError:
        pass
    return None


def library_text(text):
    """The library's text without the "[norvik::tarn::...] " it begins with."""
    return text.split("] ", 1)[1] if text.startswith("[") and "] " in text else text
