#!/usr/bin/env bash
# Sets everything up, builds, and runs every test inside a private network
# namespace. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/tools/setup.sh"
build_dir=${BUILD_DIR:-build}
tools/isolated ctest --test-dir "$build_dir" --output-on-failure --timeout 300

# Python module and tarn command tests, against the module in $build_dir/python.
# The wheel tests build offline inside the namespace: fetch the wheels of pyproject.toml's
# build requirements first (nothing is downloaded once they are there).
export NORVIK_TARN_BUILD_DIR=$(cd "$build_dir" && pwd)
export NORVIK_WHEELHOUSE="$NORVIK_TARN_BUILD_DIR/wheelhouse"
mapfile -t build_requires < <(sed -n '/^\[build-system\]/,/^\[/s/^requires *= *\[\(.*\)\]/\1/p' pyproject.toml |
  tr ',' '\n' | tr -d ' "' | sed '/^$/d')
.venv/bin/python -m pip download -q --only-binary :all: --no-index --find-links "$NORVIK_WHEELHOUSE" \
    -d "$NORVIK_WHEELHOUSE" "${build_requires[@]}" 2>/dev/null ||
  .venv/bin/python -m pip download -q --only-binary :all: -d "$NORVIK_WHEELHOUSE" "${build_requires[@]}"
tools/isolated "$root/.venv/bin/python" -m pytest tests/python tests/sim tests/tarn_cli

# Through a Zenoh router, and when the network fails (short forms).
BUILD_DIR="$build_dir" "$root/tools/run-network.sh" short

# The short soak and lifecycle runs (the fault tests ran in ctest above).
BUILD_DIR="$build_dir" "$root/tools/run-soak.sh" short

# The C++ tests again under AddressSanitizer + UndefinedBehaviorSanitizer and
# (the concurrency ones) ThreadSanitizer, and every fuzz target briefly over
# its corpus. SANITIZERS=0 skips them.
if [[ "${SANITIZERS:-1}" != 0 ]]; then
  "$root/tools/run-sanitizers.sh"
fi
