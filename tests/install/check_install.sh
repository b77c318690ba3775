#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a C++ user gets:
# libraries in lib/, headers in include/, the CMake package and the
# pkg-config file, nothing else (the Python module is the wheel's); that the
# installed library exports only the public API; and that the example builds
# out of tree against it, through the CMake package and through pkg-config,
# and runs far enough to prove that it links and loads (it prints its usage
# without a serial number).
#
#   check_install.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -euo pipefail
build_dir=$1
source_dir=$2
python=${3:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

fail() {
  echo "check_install: $*" >&2
  exit 1
}

# Where the GNU install directories say, and nothing at the prefix's root.
libdir="$prefix/lib"
for f in include/norvik/tarn.h include/norvik/tarn/export.h lib/libnorvik_zenoh.so lib/libnorvik_tarn.so \
  lib/cmake/NorvikTarn/NorvikTarnConfig.cmake lib/cmake/NorvikTarn/NorvikTarnConfigVersion.cmake \
  lib/pkgconfig/norvik-tarn.pc; do
  [[ -e "$prefix/$f" ]] || fail "$f is not installed"
done
root_entries=$(cd "$prefix" && ls -A | tr '\n' ' ')
[[ "$root_entries" == "include lib " ]] || fail "the prefix's root holds: $root_entries"
stray=$(find "$prefix" -name 'norviktarn*' -o -name '*.py' -o -name 'tarn_cli')
[[ -z "$stray" ]] || fail "the Python module's files are installed: $stray"

"$python" "$source_dir/tests/install/check_exports.py" "$libdir/libnorvik_tarn.so" "$prefix/include" >/dev/null ||
  fail "the installed library exports more or less than the public API (check_exports.py says which)"

run_example() {  # how it was built, the program
  set +e
  out=$("$2" 2>&1)
  rc=$?
  set -e
  [[ $rc -eq 2 && "$out" == usage:* ]] || fail "the example built through $1 did not run: rc=$rc: $out"
}

# Through the CMake package.
cmake -S "$source_dir/examples" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
run_example "the CMake package" "$work/build/print_robot"

# Through pkg-config, as a Makefile would.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[[ "$(pkg-config --modversion norvik-tarn)" == 2.* ]] || fail "pkg-config does not know norvik-tarn 2"
read -r -a cflags <<<"$(pkg-config --cflags norvik-tarn)"
read -r -a libs <<<"$(pkg-config --libs norvik-tarn)"
c++ -std=c++17 -Wall -Werror "${cflags[@]}" "$source_dir/examples/print_robot.cpp" -o "$work/print_robot_pc" \
  "${libs[@]}" -Wl,-rpath,"$(pkg-config --variable=libdir norvik-tarn)"
run_example "pkg-config" "$work/print_robot_pc"

# No installed file may point back into the build tree.
if grep -rl "$(cd "$build_dir" && pwd)" "$libdir/cmake" "$libdir/pkgconfig" >/dev/null; then
  fail "the installed package refers to the build tree"
fi
echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"
echo "installed package builds and runs an out-of-tree program, through CMake and through pkg-config"
