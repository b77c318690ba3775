#!/usr/bin/env bash
# Builds the Zenoh router users deploy, zenohd 1.10.2 from crates.io, once
# (into ~/.cache/norvik-tarn/zenohd, NORVIK_ZENOHD_ROOT to move it), and
# prints its path. The routed tests and tools/run-network.sh run it.
set -euo pipefail
version=1.10.2
root=${NORVIK_ZENOHD_ROOT:-$HOME/.cache/norvik-tarn/zenohd}
zenohd="$root/bin/zenohd"
if [[ ! -x "$zenohd" ]] || ! "$zenohd" --version 2>/dev/null | grep -q "v$version"; then
  export PATH="$HOME/.cargo/bin:$PATH"
  echo "zenohd: building zenohd $version from crates.io (once, several minutes)" >&2
  # cargo takes CC and friends for a change of toolchain; keep its view fixed
  env -u CC -u CXX -u CFLAGS -u CXXFLAGS -u LDFLAGS \
    cargo install zenohd --version "=$version" --locked --quiet --root "$root" --target-dir "$root/target" >&2
  rm -rf "$root/target"
fi
echo "$zenohd"
