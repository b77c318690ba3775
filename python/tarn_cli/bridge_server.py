"""tarn bridge's Foxglove WebSocket server (foxglove-sdk): one channel a topic, ROS 2 schemas, CDR messages.

Channel.log never waits for a viewer: the SDK puts a message on each
subscribed client's queue (BACKLOG messages) and a task of its own sends
them; when a client reads too slowly its queue fills and the oldest message
is dropped, for that client only. So a viewer on a slow link sees gaps, and
neither the others nor the robot's client notice it.
"""

import re
import threading

from .errors import FAILED, CliError, missing_package
from .mcap_topics import SCHEMAS

BACKLOG = 1024  # messages queued for one client: half a second of a dual-arm robot at 50 Hz


def load_foxglove():
    try:
        import foxglove
        import foxglove.channel
    except ImportError:
        raise missing_package("serving Foxglove", "foxglove-sdk", "bridge") from None
    return foxglove


class Viewers:
    """Counts the clients that subscribed to anything (the SDK calls it on its own thread)."""

    def __init__(self):
        self._lock = threading.Lock()
        self._clients = set()

    def on_subscribe(self, client, channel):
        with self._lock:
            self._clients.add(client.id)

    def on_unsubscribe(self, client, channel):
        pass  # a viewer that subscribed once stays counted

    def count(self):
        with self._lock:
            return len(self._clients)


def bind_error(host, port, text):
    """The one line for a server that could not start; the SDK's text ends with the OS's reason."""
    reason = re.sub(r"\s*\(os error \d+\)$", "", text.rsplit(": ", 1)[-1]).strip()
    hint = " (another bridge? --port picks another)" if "in use" in reason.lower() else ""
    return CliError("cannot serve on %s:%d: %s%s" % (host, port, reason[:1].lower() + reason[1:], hint), FAILED)


class FoxgloveServer:
    """The server, started at once; a context manager that stops it."""

    def __init__(self, host, port, name):
        self._foxglove = load_foxglove()
        self._context = self._foxglove.Context()
        self.viewers = Viewers()
        self.channels = {}
        try:
            self._server = self._foxglove.start_server(name=name, host=host, port=port, context=self._context,
                                                       server_listener=self.viewers, message_backlog_size=BACKLOG)
        except RuntimeError as e:
            raise bind_error(host, port, str(e)) from None
        self.url = "ws://%s:%d" % ("[%s]" % host if ":" in host else host, self._server.port)

    def advertise(self, topics):
        """One channel for each mcap_topics.Topic."""
        schemas = {name: self._foxglove.Schema(name=name, encoding="ros2msg", data=text.encode())
                   for name, text in SCHEMAS.items()}
        for topic in topics:
            self.channels[topic.name] = self._foxglove.channel.Channel(
                topic.name, schema=schemas[topic.schema], message_encoding="cdr", context=self._context)

    def wanted(self, topic):
        """Whether a client subscribed to the topic: nothing is packed for the others."""
        return self.channels[topic].has_sinks()

    def publish(self, messages, log_time):
        """messages: [(topic, CDR bytes)], logged at log_time (ns, wall clock)."""
        for topic, data in messages:
            self.channels[topic].log(data, log_time=log_time)

    def stop(self):
        for channel in self.channels.values():
            channel.close()
        self._server.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False
