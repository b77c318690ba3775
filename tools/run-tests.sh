#!/usr/bin/env bash
# Sets everything up, builds, and runs every test inside a private network
# namespace. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/tools/setup.sh"
build_dir=${BUILD_DIR:-build}
tools/isolated ctest --test-dir "$build_dir" --output-on-failure --timeout 300
