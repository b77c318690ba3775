"""The library's log lines, through Python's logging (logger "norviktarn"), onto the tool's stderr.

The module hands its lines to `logging` from a thread of its own once the tool
asks for them (robot.load_module), so stdout holds only the tool's own text.
Warnings and errors go to stderr; info lines only when asked to (-v). The
latest lines are kept for the terminal view, which draws them itself while it
owns the screen.
"""

import collections
import logging
import sys
import threading
import time

from .fmt import shown

LOGGER = "norviktarn"
REPEAT_REPORT = 5.0  # seconds between counts of a repeated line
SETTLE = 0.02        # seconds without a new line after which the module's thread has passed on its last one


class LibraryLog(logging.Handler):
    def __init__(self):
        super().__init__(logging.INFO)
        self.forward_info = False   # pass info-level lines to stderr too
        self.forward = True         # pass lines to stderr at all (off while a screen is drawn)
        self.lines = collections.deque(maxlen=100)
        self._state = threading.Lock()
        self._last = None      # the last line passed on, without its time
        self._repeats = 0      # lines like it held back since
        self._since = 0.0      # when the last line or count went out
        self._taken = 0        # lines handed to this handler so far

    def start(self):
        logger = logging.getLogger(LOGGER)
        logger.addHandler(self)
        logger.setLevel(logging.INFO)
        logger.propagate = False  # the tool's own handler decides; no second copy through the root logger
        return self

    def stop(self):
        """Call after the library's last line (the client is gone): passes on what is still on its way."""
        self.sync()
        logging.getLogger(LOGGER).removeHandler(self)
        with self._state:
            self._flush_repeats()

    def sync(self, timeout=1.0):
        """Waits until every line the library has logged so far is passed on (or kept)."""
        module = sys.modules.get(LOGGER)
        if module is None:
            return  # never loaded: nothing logged
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            seen = self._taken
            if module.log_backlog() == 0:
                # the module's thread takes lines in a batch: let it hand on the last of them
                time.sleep(SETTLE)
                if self._taken == seen and module.log_backlog() == 0:
                    return
            else:
                time.sleep(0.005)

    def latest(self):
        with self._state:
            return self.lines[-1] if self.lines else None

    def emit(self, record):
        line = "[%s] [%s] %s" % (_stamp(record.created), record.levelname.lower(), shown(record.getMessage()))
        with self._state:
            self._taken += 1
            self.lines.append(line)
            if not self.forward or (record.levelno < logging.WARNING and not self.forward_info):
                return
            # a fault repeated at the stream rate (an inconsistent sample, say) shows once, then a count
            text = line.split("] ", 1)[1]
            if text == self._last:
                self._repeats += 1
                if time.monotonic() - self._since >= REPEAT_REPORT:
                    self._flush_repeats()
                return
            self._flush_repeats()
            self._last = text
            self._since = time.monotonic()
            _write(line)

    def _flush_repeats(self):
        if self._repeats:
            _write("(the library repeated the line before %d times)" % self._repeats)
        self._repeats = 0
        self._since = time.monotonic()


def _stamp(created):
    # as spdlog writes its time, so a line reads the same wherever it went
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(created)) + ".%03d" % (created % 1 * 1000)


def _write(line):
    try:
        sys.stderr.write(line + "\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass
