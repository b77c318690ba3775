"""Keeps the library's log lines off the tool's standard output.

The library logs through spdlog to file descriptor 1. The tool gives Python's
sys.stdout a copy of the real stdout and points descriptor 1 at a pipe, so
`tarn info SN > file` holds only the tool's own text. A reader thread takes
the library's lines: it passes them to stderr (info-level ones only when
asked to) and keeps the latest for the terminal view.
"""

import collections
import io
import os
import re
import sys
import threading
import time

_ANSI = re.compile(r"\x1b\[[0-9;]*m")
_INFO = re.compile(r"^\[[^]]*\] \[(info|debug|trace)\] ")
_STAMP = re.compile(r"^\[[^]]*\] ")
_SYNC = b"\x00tarn-log-sync "  # a line only the tool writes into the library's pipe
REPEAT_REPORT = 5.0  # seconds between counts of a repeated line


class LibraryLog:
    def __init__(self):
        self.forward_info = False   # pass info-level lines to stderr too
        self.forward = True         # pass lines to stderr at all (off while a screen is drawn)
        self.lines = collections.deque(maxlen=100)
        self._lock = threading.Lock()
        self._saved = None
        self._reader = None
        self._read_fd = None
        self._last = None      # the last line passed on, without its time
        self._repeats = 0      # lines like it held back since
        self._since = 0.0      # when the last line or count went out
        self._synced = {}      # sync token -> Event, set once the reader reaches it

    def start(self):
        """Call before the library is loaded, so its logger never sees the terminal."""
        sys.stdout.flush()
        self._saved = os.dup(1)
        read_fd, write_fd = os.pipe()
        os.dup2(write_fd, 1)
        os.close(write_fd)
        self._read_fd = read_fd
        sys.stdout = io.TextIOWrapper(io.FileIO(self._saved, "w", closefd=False),
                                      encoding=sys.stdout.encoding or "utf-8",
                                      errors="replace", line_buffering=True)
        self._reader = threading.Thread(target=self._read, name="library-log", daemon=True)
        self._reader.start()
        return self

    def stop(self):
        """Call after the library's last line (the client is gone): drains the pipe."""
        if self._reader is None:
            return
        try:
            sys.stdout.flush()
        except (BrokenPipeError, ValueError):
            pass
        # descriptor 1 goes back to stderr: the pipe's last writer closes
        os.dup2(2, 1)
        self._reader.join(5.0)
        self._reader = None
        self._flush_repeats()

    def sync(self, timeout=1.0):
        """Waits until every line the library has written so far is passed on (or kept)."""
        if self._reader is None:
            return
        event = threading.Event()
        token = _SYNC + str(id(event)).encode()
        with self._lock:
            self._synced[token] = event
        try:
            os.write(1, token + b"\n")  # the pipe keeps order: the reader gets here after the library's lines
        except OSError:
            return
        event.wait(timeout)

    def latest(self):
        with self._lock:
            return self.lines[-1] if self.lines else None

    def _read(self):
        with os.fdopen(self._read_fd, "rb", buffering=0) as pipe:
            pending = b""
            while True:
                chunk = pipe.read(65536)
                if not chunk:
                    break
                pending += chunk
                *complete, pending = pending.split(b"\n")
                for raw in complete:
                    self._take(raw)
            if pending:
                self._take(pending)

    def _take(self, raw):
        if raw.startswith(_SYNC):
            with self._lock:
                event = self._synced.pop(raw, None)
            if event is not None:
                event.set()
            return
        line = _ANSI.sub("", raw.decode("utf-8", "replace")).rstrip("\r")
        if not line:
            return
        with self._lock:
            self.lines.append(line)
        if self.forward and (self.forward_info or not _INFO.match(line)):
            # a fault repeated at the stream rate (an inconsistent sample, say) shows once, then a count
            text = _STAMP.sub("", line)
            if text == self._last:
                self._repeats += 1
                if time.monotonic() - self._since >= REPEAT_REPORT:
                    self._flush_repeats()
                return
            self._flush_repeats()
            self._last = text
            self._since = time.monotonic()
            self._write(line)

    def _flush_repeats(self):
        if self._repeats:
            self._write("(the library repeated the line before %d times)" % self._repeats)
        self._repeats = 0
        self._since = time.monotonic()

    @staticmethod
    def _write(line):
        try:
            sys.stderr.write(line + "\n")
            sys.stderr.flush()
        except (OSError, ValueError):
            pass
