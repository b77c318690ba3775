#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60) inside a private network namespace,
# starting from its committed seed corpus. Prints executions, coverage and
# crashes per target; exits non-zero when any target found a crash.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]     targets: rpc_reply basic_stream extra_stream
#                                           sample_path primitive_states plan_info serial_number
# Findings are kept in build-fuzz/artifacts; grown corpora in build-fuzz/corpus.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(rpc_reply basic_stream extra_stream sample_path primitive_states plan_info serial_number)
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}

SKIP_BUILD=1 "$root/tools/setup.sh"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer -g -O1"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DNORVIK_TARN_FUZZ=ON -DNORVIK_TARN_BUILD_TESTS=OFF -DNORVIK_TARN_BUILD_PYTHON=OFF \
  -DPython3_EXECUTABLE="$root/.venv/bin/python" >/dev/null
cmake --build "$build_dir" --target $(printf '%s_fuzzer ' "${targets[@]}")

mkdir -p "$build_dir/artifacts"
failed=0
printf '%-18s %10s %8s %8s %s\n' target executions cov features result
for t in "${targets[@]}"; do
  corpus="$build_dir/corpus/$t"
  mkdir -p "$corpus"
  dict=()
  case $t in basic_stream | extra_stream | sample_path | rpc_reply) dict=(-dict=fuzz/stream.dict) ;; esac
  log="$build_dir/artifacts/$t.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 tools/isolated "$build_dir/fuzz/${t}_fuzzer" \
    -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build_dir/artifacts/$t-" "${dict[@]}" "$corpus" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  result=ok
  if [[ $rc -ne 0 ]]; then
    result="FOUND (see $log)"
    failed=1
  fi
  printf '%-18s %10s %8s %8s %s\n' "$t" "$execs" "$cov" "$ft" "$result"
done
exit $failed
