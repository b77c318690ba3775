"""The tarn command: subcommands, the one-line errors and the exit statuses."""

import argparse
import os
import signal
import sys
import traceback

from . import bridge, convert, discover, info, plot, record, watch
from .errors import FAILED, USAGE, CliError
from .fmt import shown
from .liblog import LibraryLog

DESCRIPTION = """\
Look at a Norvik robot's live data, record it and plot it (read-only: the
tool never commands the robot).

  tarn list                          the robots that answer on the network
  tarn info SN                       what the robot is and does, once
  tarn watch SN                      a live view; q or Ctrl-C quits
  tarn record SN --duration S --out run.csv   every sample of both streams
  tarn plot run.csv --out run.png    joints and TCP wrench over time
  tarn convert run.csv --out run.mcap   a recording in another format
  tarn bridge SN                     live in Foxglove at ws://127.0.0.1:8765

SN is the robot's serial number, e.g. "Rizon 4s-062068". Errors are one line
on stderr; exit status 0 is success, 1 a failure (unanswered request, lost
samples, unreadable file), 2 a bad command line or serial number, 3 no robot
answering, 4 a robot whose server speaks another TARN version.

On the same network as the robot nothing needs to be set. Through a Zenoh
router, give --connect tcp/ROUTER:7447, or --config FILE (Zenoh's JSON5
configuration), or set ZENOH_CONFIG to that file."""


def _version():
    try:
        from importlib.metadata import version

        return version("norviktarn")
    except Exception:
        return "(build tree)"


def parser():
    p = argparse.ArgumentParser(prog="tarn", description=DESCRIPTION,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--version", action="version", version="tarn %s (TARN v2.1)" % _version())
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("-v", "--verbose", action="store_true",
                        help="let the library log its start-up sequence too (on stderr)")
    sub = p.add_subparsers(title="subcommands", dest="command", metavar="SUBCOMMAND")
    sub.required = True
    for module in (discover, info, watch, record, plot, convert, bridge):
        module.add_parser(sub, common)
    return p


def _stop_on_term(signum, frame):
    # SIGTERM ends a command the way Ctrl-C does: files finished, terminal restored
    raise KeyboardInterrupt


def _quiet_stdout():
    # the reader is gone (| head): later writes, and the one at exit, go nowhere
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass


def main(argv=None):
    log = LibraryLog().start()
    signal.signal(signal.SIGTERM, _stop_on_term)
    status = 0
    try:
        args = parser().parse_args(argv)
        log.forward_info = args.verbose
        status = args.run(args, log) or 0
    except CliError as e:
        print("tarn: %s" % shown(str(e)), file=sys.stderr)
        status = e.status
    except KeyboardInterrupt:
        status = 130
    except BrokenPipeError:
        _quiet_stdout()
        status = 0
    except SystemExit as e:
        status = e.code if isinstance(e.code, int) else (0 if e.code is None else USAGE)
        if not isinstance(e.code, (int, type(None))):
            print(e.code, file=sys.stderr)
    except Exception as e:  # a fault of the tool itself: still one line, the traceback on request
        if os.environ.get("TARN_TRACEBACK"):
            traceback.print_exc()
        print("tarn: unexpected %s: %s (TARN_TRACEBACK=1 shows where)" % (type(e).__name__, e), file=sys.stderr)
        status = FAILED
    finally:
        try:
            sys.stdout.flush()
        except BrokenPipeError:
            _quiet_stdout()
        log.stop()
    return status
