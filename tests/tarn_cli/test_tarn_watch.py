"""tarn watch: plain snapshots when piped, and the terminal view driven in a pseudo-terminal."""

import re
import signal
import termios
import time

import pytest

from tarn_cli_support import PtyTool, tarn, wait_until

GROUPS = ("ARMS", "ARM_1", "ARM_2", "EXT_AXIS")


def _received(screen):
    m = re.search(r"basic: live, [^\n]*?(\d+) received", screen)
    return int(m.group(1)) if m else None


def test_piped_watch_prints_one_plain_snapshot_a_second(dual_robot):
    done = tarn("watch", dual_robot.serial, "--duration", "2.5")
    assert done.returncode == 0, done
    out = done.stdout
    assert "\x1b" not in out  # no terminal codes when piped
    snapshots = out.split("tarn watch %s   " % dual_robot.serial)[1:]
    assert len(snapshots) == 3, out  # at 0, 1 and 2 s
    counts = []
    for snap in snapshots:
        assert re.match(r"\d\d:\d\d:\d\d\n", snap), snap
        assert re.search(r"^system (WORKING_AUTO_EXECUTE \(7\)|STOPPED_AUTO \(3\))   safety board", snap, re.M), snap
        assert re.search(r"^e-stop released   enabling device off$", snap, re.M), snap
        assert re.search(r"^DI [01]{20}   DO [01]{20}$", snap, re.M), snap
        assert re.search(r"^plan PickAndPlace   node \w+ \(\w+\)   velocity scale 0\.\d\d", snap, re.M), snap
        for group in GROUPS:
            assert re.search(r"^%s  \d+ joints?$" % group, snap, re.M), (group, snap)
        assert len(re.findall(r"^  q   ", snap, re.M)) == 2 + 1 + 1 + 1  # ARMS wraps at 100 columns
        assert len(re.findall(r"^  tcp    xyz ", snap, re.M)) == 4
        assert len(re.findall(r"^  wrench F ", snap, re.M)) == 4
        assert "streams  basic: live" in snap and "         extra: live" in snap
        counts.append(_received(snap))
    assert counts == sorted(counts) and counts[0] < counts[-1], counts  # live: the counts grow
    assert "[norvik" not in out and done.stderr == ""


def test_piped_watch_ends_quietly_when_the_reader_goes(dual_robot):
    # `tarn watch SN | head -3`: the pipe closes under the tool
    import subprocess
    import sys

    from tarn_cli_support import tool_env

    cmd = "%s -m tarn_cli watch %s --duration 5 | head -3" % (sys.executable, dual_robot.serial)
    done = subprocess.run(["bash", "-o", "pipefail", "-c", cmd], capture_output=True, text=True,
                          env=tool_env(), timeout=60)
    assert done.returncode == 0, (done.stdout, done.stderr)
    assert len(done.stdout.splitlines()) == 3
    assert done.stderr == "", done.stderr


def test_watch_shows_a_paused_robot_as_stale(start_robot, session):
    from tarn_sim.testing import control

    robot = start_robot()
    view = PtyTool("watch", robot.serial)
    try:
        view.wait_for(lambda v: "basic: live" in v.output, what="a live view")
        control(session, robot.prefix, {"paused": True})
        frame = view.wait_for(lambda v: next((f for f in reversed(v.frames()) if "STALE: no states sample for" in f),
                                             None), what="the stale mark")
        assert re.search(r"basic: stale, [\d.]+ Hz, age [\d.]+ (ms|s)", frame), frame
        control(session, robot.prefix, {"paused": False})
        view.wait_for(lambda v: "STALE" not in v.frames()[-1] and "basic: live" in v.frames()[-1],
                      what="live again")
        view.send(b"q")
        assert view.wait() == 0
    finally:
        view.close()


@pytest.fixture
def terminal_view(dual_robot):
    view = PtyTool("watch", dual_robot.serial, rows=60, cols=120)
    yield view
    view.close()


def _shown(view):
    frames = view.frames()
    return frames[-2] if len(frames) >= 2 else ""  # the newest whole frame


def test_terminal_view_draws_and_quits_on_q(terminal_view):
    view = terminal_view
    view.wait_for(lambda v: all(g + "  " in _shown(v) for g in GROUPS), what="every group on screen")
    first = _received(_shown(view))
    view.wait_for(lambda v: (_received(_shown(v)) or 0) > first, what="the view to refresh")
    screen = _shown(view)
    assert "[q quit, g groups: all]" in screen
    assert re.search(r"^system .*   safety board", screen, re.M) and "\nDI " in screen and "\nplan " in screen
    # no line wider than the terminal
    assert all(len(line) <= 120 for line in re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", screen).split("\n"))
    assert view.output.startswith("\x1b[?1049h\x1b[?25l")  # alternate screen, cursor hidden
    view.send(b"q")
    assert view.wait() == 0
    assert view.output.endswith("\x1b[?25h\x1b[?1049l")  # cursor back, screen back
    assert view.modes() == view.modes_before  # echo and line mode restored


def test_g_shows_one_group_after_another(terminal_view):
    view = terminal_view
    view.wait_for(lambda v: "g groups: all" in _shown(v), what="the first frame")
    seen = []
    for group in GROUPS + ("all",):
        view.send(b"g")
        screen = view.wait_for(lambda v: "g groups: %s]" % group in _shown(v) and _shown(v), what=group)
        shown = [g for g in GROUPS if re.search(r"^%s  \d+ joint" % g, screen, re.M)]
        seen.append(shown)
    assert seen == [["ARMS"], ["ARM_1"], ["ARM_2"], ["EXT_AXIS"], list(GROUPS)]
    view.send(b"gg")  # two keys in one read are two steps
    view.wait_for(lambda v: "g groups: ARM_1]" in _shown(v), what="two steps at once")
    view.send(b"q")
    assert view.wait() == 0


@pytest.mark.parametrize("how", ["ctrl-c", "sigterm"])
def test_terminal_is_restored_on_interrupt(terminal_view, how):
    view = terminal_view
    view.wait_for(lambda v: "ARM_1  7 joints" in _shown(v), what="the view")
    assert not view.modes()[3] & termios.ECHO  # the view took the keys over
    if how == "ctrl-c":
        view.send(b"\x03")  # the terminal turns it into SIGINT
    else:
        view.proc.send_signal(signal.SIGTERM)
    assert view.wait() == 0
    assert view.output.endswith("\x1b[?25h\x1b[?1049l")
    modes = view.modes()
    assert modes == view.modes_before
    assert modes[3] & termios.ECHO and modes[3] & termios.ICANON


def test_a_small_terminal_gets_what_fits(dual_robot):
    view = PtyTool("watch", dual_robot.serial, rows=20, cols=80)
    try:
        screen = view.wait_for(lambda v: "more lines: enlarge the window, or press g" in _shown(v) and _shown(v),
                               what="a cut screen")
        lines = screen.split("\n")
        assert len(lines) == 20, lines
        plain = [re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", line) for line in lines]
        assert all(len(line) <= 80 for line in plain), plain
        view.send(b"q")
        assert view.wait() == 0
    finally:
        view.close()


def test_library_log_lines_do_not_tear_the_screen(start_robot):
    robot = start_robot()
    view = PtyTool("watch", "-v", robot.serial)
    try:
        view.wait_for(lambda v: "ARM_1  7 joints" in _shown(v), what="the view")
        view.send(b"q")
        assert view.wait() == 0
        # the connection lines came before the screen; nothing but frames while it was up
        before, _, during = view.output.partition("\x1b[?1049h")
        assert "Connected to the robot" in before
        drawn = during.rpartition("\x1b[?1049l")[0]
        assert "[info]" not in drawn.replace("log: [", "")
    finally:
        view.close()


def test_an_unanswered_request_never_holds_up_the_view(start_robot, session):
    """Plan requests go unanswered (each waits its whole 2 s): the view keeps redrawing with the robot live,
    and q ends the tool at once, also while a request waits."""
    robot = start_robot("--rpc-fault", "4=delay:5000")
    asked = []  # when each request reached the robot
    queryable = session.declare_queryable(robot.prefix + "/rpc", lambda query: asked.append(time.monotonic()))
    view = PtyTool("watch", robot.serial)
    try:
        view.wait_for(lambda v: "plan: no answer (" in _shown(v), what="a request that went unanswered")
        seen = []  # (time, frames drawn so far) over 3.2 s: a whole request and the pause after one
        start = time.monotonic()
        while time.monotonic() - start < 3.2:
            seen.append((time.monotonic(), len(view.frames())))
            time.sleep(0.05)
        redraws = [t for (t, n), (_, before) in zip(seen[1:], seen) if n > before]
        gaps = [b - a for a, b in zip([start] + redraws, redraws + [seen[-1][0]])]
        assert max(gaps) < 0.6, gaps  # one frame each 0.2 s, never a request's 2 s
        frames = view.frames()[-10:-1]
        assert all("basic: live" in f and "STALE" not in f for f in frames), frames[-1]
        # q half a second into the next request
        requests = len(asked)
        wait_until(lambda: len(asked) > requests, timeout=3.0, what="the next request")
        wait_until(lambda: time.monotonic() - asked[-1] >= 0.5, what="a request under way")
        sent = time.monotonic()
        view.send(b"q")
        assert view.wait() == 0
        took = time.monotonic() - sent
        print("\n[ figure ] q to exit with a request under way: %.2f s (a request waits up to 2 s)" % took)
        assert took < 1.0  # the request had 1.5 s to go
        assert view.output.endswith("\x1b[?25h\x1b[?1049l")
    finally:
        view.close()
        queryable.undeclare()
