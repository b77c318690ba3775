"""The recording's progress line on stderr: a bar in a terminal, a plain line a second otherwise."""

import os
import sys
import time


class Progress:
    def __init__(self, duration, stream=None, quiet=False):
        self.duration = duration
        self.stream = stream or sys.stderr
        self.quiet = quiet
        self.tty = self.stream.isatty()
        self._next = 0.0
        self._drawn = False

    def text(self, elapsed, basic, extra, losses, lag):
        if self.duration:
            done = min(1.0, elapsed / self.duration)
            bar = "[%-20s] %5.1f/%.1f s" % ("#" * int(done * 20), min(elapsed, self.duration), self.duration)
        else:
            bar = "%.1f s" % elapsed
        return "%s  basic %d  extra %d  lost: %s  lag %d ms" % (bar, basic, extra, losses, round(lag * 1000))

    def update(self, now, *figures, force=False):
        if self.quiet or (now < self._next and not force):
            return
        self._next = now + (0.2 if self.tty else 1.0)
        line = self.text(*figures)
        if self.tty:
            # a line wider than the terminal would wrap, and the next \r redraw only its last row
            self.stream.write("\r" + line[:self._width() - 1] + "\x1b[K")
        else:
            self.stream.write("recording: " + line + "\n")
        self.stream.flush()
        self._drawn = True

    def _width(self):
        try:
            return os.get_terminal_size(self.stream.fileno()).columns
        except (OSError, ValueError):
            return 80

    def finish(self, *figures):
        if self.quiet:
            return
        self.update(time.monotonic(), *figures, force=True)
        if self.tty and self._drawn:
            self.stream.write("\n")
            self.stream.flush()
