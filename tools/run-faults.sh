#!/usr/bin/env bash
# The fault scenarios (tests/cpp/faults): the robot crashing, stopping,
# freezing and coming back; bad and late replies at high rate; a 10 kHz
# garbage flood; a rogue second publisher. Each test prints its figures as
# "[ figure   ] ..." lines. Sets up and builds first; runs inside tools/isolated;
# the tests start the simulator and the flood publisher themselves.
#
#   tools/run-faults.sh [short]                 about a minute (ctest runs the same tests)
#   tools/run-faults.sh long [SECONDS] [REPEAT]  flood, rogue and reply windows of SECONDS
#                                               (default 60), the whole set REPEAT times (default 1)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mode=${1:-short}
repeat=1
case "$mode" in
  short) ;;
  long)
    export TARN_FAULT_SECONDS=${2:-60}
    repeat=${3:-1}
    ;;
  *)
    echo "usage: tools/run-faults.sh [short | long [SECONDS] [REPEAT]]" >&2
    exit 2
    ;;
esac
"$root/tools/setup.sh"
build_dir=${BUILD_DIR:-build}
tools/isolated "$build_dir/bin/norvik_tarn_tests" --gtest_filter='Faults*' --gtest_repeat="$repeat"
