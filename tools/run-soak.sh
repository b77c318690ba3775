#!/usr/bin/env bash
# The soak and lifecycle runs (stress/): one client against tarn-sim with
# both streams at 1 kHz, a request every 10 ms and four reader threads; then
# Client create/destroy cycles while the robot streams, from C++ and from
# Python. Each run prints its figures and fails on a failed request or
# cycle, a deadline overrun, a wrong sample, or thread, descriptor or memory
# growth. Sets up and builds first; every run is inside tools/isolated with
# its own simulator (tools/with-sim).
#
#   tools/run-soak.sh [short]                   20 s soak, 100 cycles each (CI)
#   tools/run-soak.sh long [SECONDS] [CYCLES]   SECONDS of soak (default 1800), CYCLES (default 1000)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mode=${1:-short}
case "$mode" in
  short) seconds=20 cycles=100 report=10 ;;
  long) seconds=${2:-1800} cycles=${3:-1000} report=60 ;;
  *)
    echo "usage: tools/run-soak.sh [short | long [SECONDS] [CYCLES]]" >&2
    exit 2
    ;;
esac
"$root/tools/setup.sh"
build_dir=$(cd "${BUILD_DIR:-build}" && pwd)
module=$(ls "$build_dir"/python/norviktarn*.so 2>/dev/null | head -n1 || true)
if [[ -z "$module" ]]; then
  echo "run-soak: the norviktarn module is not in $build_dir/python" >&2
  exit 1
fi

echo "== soak: ${seconds} s"
sn="SOAK-$$"
tools/isolated tools/with-sim --serial "$sn" --stamp-from-counter -- \
  "$build_dir/bin/tarn_soak" --serial "$sn" --seconds "$seconds" --report-every "$report" --check

echo "== lifecycle (C++): ${cycles} cycles"
sn="CYCLE-$$"
tools/isolated tools/with-sim --serial "$sn" -- \
  "$build_dir/bin/tarn_lifecycle" --serial "$sn" --cycles "$cycles" --check

echo "== lifecycle (Python): ${cycles} cycles"
sn="PYCYCLE-$$"
PYTHONPATH="$build_dir/python" tools/isolated tools/with-sim --serial "$sn" -- \
  "$root/.venv/bin/python" stress/lifecycle.py --serial "$sn" --cycles "$cycles" --check
echo "run-soak: all passed"
