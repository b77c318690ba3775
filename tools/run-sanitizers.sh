#!/usr/bin/env bash
# The C++ tests under sanitizers, and a short run of every fuzz target:
#   asan  every C++ test with AddressSanitizer + UndefinedBehaviorSanitizer
#         (leaks are errors: LeakSanitizer runs at each test's exit)
#   tsan  the concurrency tests with ThreadSanitizer
#   fuzz  each libFuzzer target for FUZZ_SECONDS (default 5) over its corpus
# The builds go to build-asan, build-tsan and build-fuzz (ASAN_BUILD_DIR,
# TSAN_BUILD_DIR and FUZZ_BUILD_DIR move them).
# With no argument runs all three. Each prints how long it took and its
# verdict; a stage that fails does not stop the next, and the exit status is
# non-zero when any failed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
stages=("$@")
asan_dir=${ASAN_BUILD_DIR:-build-asan}
tsan_dir=${TSAN_BUILD_DIR:-build-tsan}
((${#stages[@]})) || stages=(asan tsan fuzz)
SKIP_BUILD=1 "$root/tools/setup.sh"
common=(-G Ninja -DPython3_EXECUTABLE="$root/.venv/bin/python" -DNORVIK_TARN_BUILD_PYTHON=OFF
  -DNORVIK_TARN_BUILD_BENCHMARKS=OFF -DNORVIK_TARN_BUILD_STRESS=ON -Wno-dev)

configure() {  # dir flags
  cmake -S . -B "$1" "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$2" \
    -DCMAKE_EXE_LINKER_FLAGS="$2" -DCMAKE_SHARED_LINKER_FLAGS="$2" >/dev/null
}

# the concurrency tests: many threads on one client, two publishers on a key,
# replies racing deadlines, sessions shared and reopened
tsan_filter='DataStream*:SimClientTest.Readers*:RpcClientTest.Concurrent*:SharedSession*:Subscriber*:ClientTest.TwoClients*:ClientTest.StreamAccessors*'

asan() {
  configure "$asan_dir" "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake --build "$asan_dir" --target norvik_tarn_tests tarn_flood
  # the install and exported-symbol checks are about the shared library, which this build leaves out
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    tools/isolated ctest --test-dir "$asan_dir" --output-on-failure --timeout 300 -E '^(install|library)\.'
}

tsan() {
  configure "$tsan_dir" "-fsanitize=thread"
  cmake --build "$tsan_dir" --target norvik_tarn_tests tarn_flood
  TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp halt_on_error=1" \
    tools/isolated "$tsan_dir/bin/norvik_tarn_tests" --gtest_filter="$tsan_filter"
}

fuzz() {
  tools/fuzz.sh "${FUZZ_SECONDS:-5}"
}

failed=()
for stage in "${stages[@]}"; do
  case $stage in
    asan | tsan | fuzz) ;;
    *)
      echo "unknown stage $stage (asan, tsan, fuzz)" >&2
      exit 2
      ;;
  esac
  start=$SECONDS
  # In a subshell, so that a failing command ends the stage and not the
  # script (set -e does not work inside an if's condition).
  set +e
  (set -e; "$stage")
  rc=$?
  set -e
  if ((rc == 0)); then
    echo "sanitizers: $stage passed, took $((SECONDS - start)) s"
  else
    echo "sanitizers: $stage FAILED, took $((SECONDS - start)) s"
    failed+=("$stage")
  fi
done
((${#failed[@]} == 0))
