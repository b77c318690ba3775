"""A full-screen text view: alternate screen, no echo, single keys, and the terminal put back."""

import os
import select
import sys
import termios
import tty


class Screen:
    def __init__(self, out=None, in_fd=None):
        self.out = out or sys.stdout
        self.in_fd = in_fd if in_fd is not None else sys.stdin.fileno()
        self.keys = os.isatty(self.in_fd)
        self._saved = None

    def __enter__(self):
        if self.keys:
            self._saved = termios.tcgetattr(self.in_fd)
            tty.setcbreak(self.in_fd)  # keeps ISIG: Ctrl-C still interrupts
        self._write("\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J")
        return self

    def __exit__(self, *exc):
        try:
            self._write("\x1b[?25h\x1b[?1049l")
        finally:
            if self._saved is not None:
                termios.tcsetattr(self.in_fd, termios.TCSADRAIN, self._saved)
        return False

    def size(self):
        try:
            size = os.get_terminal_size(self.out.fileno())
            return max(20, size.columns), max(3, size.lines)
        except OSError:
            return 80, 24

    def draw(self, lines):
        width, height = self.size()
        if len(lines) > height:
            hidden = len(lines) - height + 1
            lines = lines[:height - 1] + ["(%d more lines: enlarge the window, or press g for one group)" % hidden]
        body = "\x1b[K\r\n".join(line[:width] for line in lines)
        self._write("\x1b[H" + body + "\x1b[K\x1b[J")

    def key(self, timeout):
        """The keys pressed within `timeout` seconds, or None; sleeps the timeout when keys are off."""
        if not self.keys:
            select.select([], [], [], max(0.0, timeout))
            return None
        ready, _, _ = select.select([self.in_fd], [], [], max(0.0, timeout))
        if not ready:
            return None
        data = os.read(self.in_fd, 64)
        return data.decode("utf-8", "replace") if data else None

    def _write(self, text):
        self.out.write(text)
        self.out.flush()
