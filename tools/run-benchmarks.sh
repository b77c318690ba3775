#!/usr/bin/env bash
# Sets up, builds and runs every benchmark inside a private network namespace
# (tools/isolated), then prints each figure beside its baseline from the same
# run, with the ratio and the goal. Not part of the tests: it never fails on
# a missed goal, only when something cannot run.
#
#   tools/run-benchmarks.sh              short run (about 11 minutes; 30 s soak per profile)
#   tools/run-benchmarks.sh --memory     the soak runs 10 minutes (both profiles side by side; about 22 minutes)
#   options: --soak-seconds N   --out DIR   (default build/benchmark-results/DATE)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build_dir=${BUILD_DIR:-build}

soak=30
parallel_soak=0
out=""
inside=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --memory) soak=600; parallel_soak=1 ;;
    --soak-seconds) soak=$2; shift ;;
    --out) out=$2; shift ;;
    --inside) inside=1 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "run-benchmarks: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [[ $inside -eq 0 ]]; then
  "$root/tools/setup.sh"
  cmake -S . -B "$build_dir" -DNORVIK_TARN_BUILD_BENCHMARKS=ON >/dev/null
  cmake --build "$build_dir" --target benchmarks
  out=${out:-$build_dir/benchmark-results/$(date +%Y%m%d-%H%M%S)}
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  args=(--inside --soak-seconds "$soak" --out "$out")
  [[ $parallel_soak -eq 1 ]] && args+=(--memory --soak-seconds "$soak")
  exec "$root/tools/isolated" "$0" "${args[@]}"
fi

# From here on inside the namespace.
bin="$root/$build_dir/benchmarks"
py="$root/.venv/bin/python"
failed=()
run() {  # name, command...
  local name=$1
  shift
  echo "== $name"
  "$@" || failed+=("$name")
}

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu: $(lscpu | sed -n 's/^Model name: *//p') x $(nproc)"
  echo "memory: $(free -g | awk '/^Mem:/ {print $2}') GiB"
  echo "kernel: $(uname -r)"
  echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "soak: ${soak} s"
} >"$out/machine.txt"

micro=(--benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.05 --benchmark_out_format=json)
run codec "$bin/codec_bench" "${micro[@]}" --benchmark_out="$out/codec.json"
run read "$bin/read_bench" "${micro[@]}" --benchmark_out="$out/read.json"
run rpc "$bin/rpc_bench" --rpc_calls=2000 --benchmark_out_format=json --benchmark_out="$out/rpc.json"
run latency "$bin/stream_bench" --benchmark_filter='^latency/' --latency_samples=2000 --latency_rounds=3 \
  --benchmark_out_format=json --benchmark_out="$out/latency.json"
run max_rate "$bin/stream_bench" --benchmark_filter='^max_rate/' --rate_seconds=0.5 \
  --benchmark_out_format=json --benchmark_out="$out/rate.json"
if [[ $parallel_soak -eq 1 ]]; then
  echo "== soak (${soak} s, both profiles side by side)"
  for p in dual single; do
    "$bin/stream_bench" --benchmark_filter="^soak/$p/" --soak_seconds="$soak" \
      --benchmark_out_format=json --benchmark_out="$out/soak-$p.json" >"$out/soak-$p.log" 2>&1 &
  done
  for p in dual single; do wait -n || failed+=("soak"); done
  cat "$out"/soak-*.log
else
  run soak "$bin/stream_bench" --benchmark_filter='^soak/' --soak_seconds="$soak" \
    --benchmark_out_format=json --benchmark_out="$out/soak.json"
fi
run fleet "$bin/fleet_bench" --fleet_seconds=10 --benchmark_out_format=json --benchmark_out="$out/fleet.json"
run python "$py" "$root/benchmarks/python_bench.py" --build "$root/$build_dir" --json "$out/python.json"
# tarn record beside a bare client (1 kHz, 20 s a run), then 60 s at 5 kHz: about 4 minutes
run record "$py" "$root/benchmarks/record_bench.py" --build "$root/$build_dir" --json "$out/record.json"
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"

echo
echo "== summary ($out)"
cat "$out/machine.txt"
echo
"$py" "$root/benchmarks/summarize.py" "$out" --markdown "$out/summary.md"
if ((${#failed[@]})); then
  echo "run-benchmarks: could not run: ${failed[*]}" >&2
  exit 1
fi
