"""The tool's failures: one line for the user and an exit status."""

# Exit statuses (argparse itself exits with 2 on a bad command line).
FAILED = 1        # a request failed, a file could not be written, samples were lost
USAGE = 2         # bad command line or serial number
NO_ROBOT = 3      # nothing answers as that robot
INCOMPATIBLE = 4  # the robot's server speaks another TARN version


class CliError(Exception):
    """Ends the command: main() prints "tarn: MESSAGE" and exits with `status`."""

    def __init__(self, message, status=FAILED):
        super().__init__(message)
        self.status = status


def missing_package(doing, package, extra):
    """The error for an optional package that is not installed: what to install from a checkout too."""
    return CliError("%s needs %s (pip install %s, or pip install 'norviktarn[%s]' for the version tested with it)"
                    % (doing, package, package, extra), FAILED)
