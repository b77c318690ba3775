#!/usr/bin/env bash
# Installs what the project needs and builds it; safe to run again.
#   Debian packages (only those missing), a Python 3.10 virtual environment in
#   .venv with the pinned packages, the Rust crates (through cargo), then the
#   CMake build in build/ (BUILD_DIR to move it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build_dir=${BUILD_DIR:-build}

packages=(build-essential cmake ninja-build pkg-config iproute2 util-linux openssl
  libspdlog-dev libfmt-dev libeigen3-dev libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

export PATH="$HOME/.cargo/bin:$PATH"
command -v cargo >/dev/null || { echo "setup: cargo (rustup) is required" >&2; exit 1; }

# Python 3.10: pyenv's build first (the bare shim may point elsewhere), then PATH.
find_python() {
  local candidates=()
  if command -v pyenv >/dev/null; then
    candidates+=("$(pyenv root)"/versions/3.10.*/bin/python3.10)
  fi
  candidates+=("$HOME"/.pyenv/versions/3.10.*/bin/python3.10 /usr/bin/python3.10 /usr/local/bin/python3.10)
  for c in "${candidates[@]}"; do
    [[ -x "$c" ]] && "$c" -c 'import sys; assert sys.version_info[:2] == (3, 10)' 2>/dev/null && { echo "$c"; return; }
  done
  return 1
}
if [[ ! -x .venv/bin/python ]]; then
  py=$(find_python) || { echo "setup: Python 3.10 not found" >&2; exit 1; }
  "$py" -m venv .venv
fi
stamp=.venv/.requirements.sha
want=$(sha256sum python/requirements-dev.txt | cut -d' ' -f1)
if [[ "$(cat "$stamp" 2>/dev/null)" != "$want" ]]; then
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q -r python/requirements-dev.txt
  echo "$want" > "$stamp"
fi

[[ "${SKIP_BUILD:-0}" == 1 ]] && exit 0
cmake -S . -B "$build_dir" -G Ninja -DPython3_EXECUTABLE="$root/.venv/bin/python" >/dev/null
cmake --build "$build_dir"
