#!/usr/bin/env bash
# Sets everything up, starts the simulated dual-arm robot in a private network
# namespace and runs the examples against it: the C++ example for DEMO_SECONDS
# (default 5; Ctrl-C stops it sooner), then the Python example when present,
# then `tarn watch` for DEMO_WATCH_SECONDS (default 2).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/tools/setup.sh"
serial=${DEMO_SERIAL:-Rizon 4s-DEMO01}
seconds=${DEMO_SECONDS:-5}
watch_seconds=${DEMO_WATCH_SECONDS:-2}
build_dir=${BUILD_DIR:-build}
run_examples() {
  "$build_dir/bin/print_robot" "$serial" "$seconds"
  if [[ -f python/examples/python_client.py ]]; then
    PYTHONPATH="$build_dir/python" .venv/bin/python python/examples/python_client.py "$serial"
  fi
  # piped, the live view prints a plain snapshot a second, which stays on the screen
  set -o pipefail
  BUILD_DIR="$build_dir" tools/tarn watch "$serial" --duration "$watch_seconds" | cat
}
export -f run_examples
export serial seconds watch_seconds build_dir
# with-sim normalises the serial number as the client does, as a real robot serves it
tools/isolated tools/with-sim --serial "$serial" --profile dual -- bash -c run_examples
