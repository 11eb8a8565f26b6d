#!/usr/bin/env bash
# Builds in Release and prints one line per figure, "name: value", then "bench: done".
# Ratios are ours against a peer's on the same work in the same run: both sides timed the same
# way in alternating pairs, printed as "name: median (min–max)". VEMLIS_BENCH_PAIRS sets the
# number of pairs (10).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# The peers the figures are measured against, and the server that sends them the files.
vemlis_packages+=(nginx-light wget aria2)
vemlis_install_packages
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVEMLIS_BUILD_BENCH=ON -DVEMLIS_BUILD_TESTS=ON >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
log=build-bench/bench.log
: >"$log"
# The model's figures are single-threaded: both sides of each ratio run on the last CPU, which
# on small virtual machines is usually the one the host disturbs least.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi
"${pin[@]}" build-bench/bench/model_bench >"$log.model" 2>>"$log"
grep -E '^[a-z0-9_]+: ' "$log.model"
if [ -x build-bench/bench/engine_bench ]; then
  build-bench/bench/engine_bench >"$log.engine" 2>>"$log"
  grep -E '^[a-z0-9_]+: ' "$log.engine"
fi
if [ -x build-bench/bench/components_bench ]; then
  build-bench/bench/components_bench >"$log.components" 2>>"$log"
  grep -E '^[a-z0-9_]+: ' "$log.components"
fi
if [ -x build-bench/bench/app_bench ]; then
  build-bench/bench/app_bench >"$log.app" 2>>"$log"
  grep -E '^[a-z0-9_]+: ' "$log.app"
fi
echo "bench: done"
