"""How the simulator reaches its clients: the Zenoh configuration of its session.

The same rules as the client library's: --config FILE, or --connect ENDPOINT
(repeatable; client mode with multicast scouting off), else the file the
environment variable ZENOH_CONFIG names, else Zenoh's default configuration.
"""

import json
import os
import re

import zenoh

# as the library: a client whose routers are all unreachable gives up after about 3 s
CLIENT_CONNECT_TIMEOUT_MS = 3000


_LOCATION = re.compile(r" at [^ ]+\.rs:\d+\.$")


class ConfigError(ValueError):
    pass


def without_location(text):
    """Zenoh's error text without the place in Zenoh's sources it ends with."""
    return _LOCATION.sub("", text)


def zenoh_config(config_file=None, connect=(), mode="client"):
    """An eclipse-zenoh Config, or ConfigError naming the file and Zenoh's reason."""
    if config_file and connect:
        raise ConfigError("--config and --connect exclude each other (put the endpoints in the file)")
    if connect:
        config = zenoh.Config()
        try:
            config.insert_json5("mode", json.dumps(mode))
            config.insert_json5("connect/endpoints", json.dumps(list(connect)))
            config.insert_json5("scouting/multicast/enabled", "false")
            if mode == "client":
                config.insert_json5("connect/timeout_ms", str(CLIENT_CONNECT_TIMEOUT_MS))
        except Exception as e:
            raise ConfigError("cannot connect to %s: %s" % (", ".join(connect), without_location(str(e)))) from None
        return config
    path, origin = config_file, ""
    if not path and os.environ.get("ZENOH_CONFIG"):
        path, origin = os.environ["ZENOH_CONFIG"], " (ZENOH_CONFIG)"
    if not path:
        return zenoh.Config()
    try:
        return zenoh.Config.from_file(path)
    except Exception as e:
        raise ConfigError("cannot use the Zenoh configuration file %r%s: %s"
                          % (path, origin, without_location(str(e)))) from None
