#!/usr/bin/env bash
# Builds the library, the extension and the C++ tests, then runs every test: ctest and pytest.
# Set VELMORA_SANITIZE=1 to build and run the C++ suite under ASan and UBSan instead.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh

jobs="$(nproc)"
# ctest runs one test process per core; one intra-op thread each keeps them from oversubscribing
# the machine (libtorch's OpenMP pool would otherwise start a thread per core in every process).
ctest_env=(env OMP_NUM_THREADS=1)
if [ "${VELMORA_SANITIZE:-0}" = "1" ]; then
  build=build/sanitize
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_PYTHON=OFF -DVELMORA_SANITIZE=ON >/dev/null
  cmake --build "$build" -j "$jobs"
  "${ctest_env[@]}" ctest --test-dir "$build" -j "$jobs" --output-on-failure
  exit 0
fi

build=build/release
# The benchmarks are built too: tests/python/test_benchmarks_run.py runs each once at tiny size.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_PYTHON=ON -DVELMORA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs"
"${ctest_env[@]}" ctest --test-dir "$build" -j "$jobs" --output-on-failure
VELMORA_BUILD_DIR="$here/$build" PYTHONPATH="$here/$build/src/python${PYTHONPATH:+:$PYTHONPATH}" \
  python3 -m pytest -q tests/python
