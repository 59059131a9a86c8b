#!/usr/bin/env bash
# Builds the benchmarks and the extension, runs every benchmark and prints one table of their
# figures, native beside baseline. Arguments go to bench/run.py, for example:
#   bash scripts/bench.sh                      # 1 thread, realistic sizes
#   bash scripts/bench.sh --threads 1,4,8      # each threaded benchmark at 1, 4 and 8 threads
#   bash scripts/bench.sh --tiny               # tiny sizes: checks that every benchmark runs
#   bash scripts/bench.sh --only pos,pipeline --json results.json
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh

# The same build directory and options as scripts/test.sh, so neither reconfigures the other.
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_PYTHON=ON -DVELMORA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target benchmarks _velmora
python3 bench/run.py --build-dir "$build" "$@"
