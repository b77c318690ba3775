#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the example against the
# installed CMake package out of tree, and runs it far enough to prove that it
# links and loads (it prints its usage without a serial number).
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/norvik/tarn.h"
test -f "$work/prefix/lib/cmake/NorvikTarn/NorvikTarnConfigVersion.cmake"
cmake -S "$source_dir/examples" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
set +e
out=$("$work/build/print_robot" 2>&1)
rc=$?
set -e
if [[ $rc -ne 2 || "$out" != usage:* ]]; then
  echo "installed example did not run: rc=$rc: $out" >&2
  exit 1
fi
# no installed file may point back into the build tree
if grep -rl "$build_dir" "$work/prefix/lib/cmake" >/dev/null; then
  echo "installed package refers to the build tree" >&2
  exit 1
fi
echo "installed package builds and runs an out-of-tree program"
