#!/usr/bin/env bash
# Sets everything up, builds, and runs every test inside a private network
# namespace: ctest, pytest, the routed tests, the soak and lifecycle runs, the
# sanitizers and the fuzz targets. A stage that fails does not stop the later
# ones; the last line says which passed and which failed, and the exit status
# is non-zero when any failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if ! "$root/tools/setup.sh"; then
  echo "run-tests: FAILED: setup and build; nothing ran"
  exit 1
fi
build_dir=${BUILD_DIR:-build}

passed=()
failed=()
skipped=()
stage() {  # NAME COMMAND...: runs it, and keeps its verdict
  local name=$1 start=$SECONDS
  shift
  echo "== run-tests: $name"
  if "$@"; then
    passed+=("$name")
    echo "== run-tests: $name passed ($((SECONDS - start)) s)"
  else
    failed+=("$name")
    echo "== run-tests: $name FAILED ($((SECONDS - start)) s)"
  fi
}

# Python module and tarn command tests, against the module in $build_dir/python.
# The wheel tests build offline inside the namespace: fetch the wheels of pyproject.toml's
# build requirements first (nothing is downloaded once they are there).
python_tests() {
  export NORVIK_TARN_BUILD_DIR NORVIK_WHEELHOUSE
  NORVIK_TARN_BUILD_DIR=$(cd "$build_dir" && pwd)
  NORVIK_WHEELHOUSE="$NORVIK_TARN_BUILD_DIR/wheelhouse"
  local build_requires
  mapfile -t build_requires < <(sed -n '/^\[build-system\]/,/^\[/s/^requires *= *\[\(.*\)\]/\1/p' pyproject.toml |
    tr ',' '\n' | tr -d ' "' | sed '/^$/d')
  .venv/bin/python -m pip download -q --only-binary :all: --no-index --find-links "$NORVIK_WHEELHOUSE" \
      -d "$NORVIK_WHEELHOUSE" "${build_requires[@]}" 2>/dev/null ||
    .venv/bin/python -m pip download -q --only-binary :all: -d "$NORVIK_WHEELHOUSE" "${build_requires[@]}" ||
    return 1
  tools/isolated "$root/.venv/bin/python" -m pytest tests/python tests/sim tests/tarn_cli
}

stage ctest tools/isolated ctest --test-dir "$build_dir" --output-on-failure --timeout 300
stage pytest python_tests
# Through a Zenoh router, and when the network fails (short forms).
stage network env BUILD_DIR="$build_dir" "$root/tools/run-network.sh" short
# The short soak and lifecycle runs (the fault tests ran in ctest above).
stage soak/lifecycle env BUILD_DIR="$build_dir" "$root/tools/run-soak.sh" short
# The C++ tests again under AddressSanitizer + UndefinedBehaviorSanitizer and
# (the concurrency ones) ThreadSanitizer, and every fuzz target briefly over
# its corpus. SANITIZERS=0 skips them.
if [[ "${SANITIZERS:-1}" != 0 ]]; then
  stage sanitizers "$root/tools/run-sanitizers.sh" asan tsan
  stage fuzz "$root/tools/run-sanitizers.sh" fuzz
else
  skipped+=(sanitizers fuzz)
fi

list() { (($#)) && echo "$*" || echo none; }
verdict="passed: $(list "${passed[@]}"); failed: $(list "${failed[@]}")"
((${#skipped[@]})) && verdict+="; skipped (SANITIZERS=0): ${skipped[*]}"
if ((${#failed[@]})); then
  echo "run-tests: FAILED. $verdict"
  exit 1
fi
echo "run-tests: all passed. $verdict"
