#!/usr/bin/env bash
# Builds the benchmarks and the extension, runs every benchmark and prints one table of their
# figures, native beside baseline. Arguments go to bench/run.py, for example:
#   bash scripts/bench.sh                      # 1 thread, realistic sizes
#   bash scripts/bench.sh --threads 1,4,8      # each threaded benchmark at 1, 4 and 8 threads
#   bash scripts/bench.sh --tiny               # tiny sizes: checks that every benchmark runs
#   bash scripts/bench.sh --only pos,pipeline --json results.json
#   bash scripts/bench.sh --threads 1,8 --busy 8   # with 8 spinning processes on the cores for the run
#   bash scripts/bench.sh --threads 1,8 --busy 8 --native-only   # the same, baselines not timed
#   bash scripts/bench.sh --only pos --compare main  # each benchmark of revision "main" right after ours
# --compare REV builds the benchmarks of REV from an exported copy in build/compare/<commit>, and
# the table adds its native time and the speed-up since.
# --native-only times the native side only: the benchmarks still write their bundles and inputs
# and check what they check, but skip timing their baselines (PyTorch at several threads on a busy
# machine can take hours); the table shows "-" for baseline and ratio. With --compare, REV's
# benchmarks get it too if their drivers take it; older ones run whole, baselines included.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh

args=()
compare=""
while (($#)); do
  case "$1" in
    --compare) compare="${2:?--compare needs a revision}"; shift 2 ;;
    --compare=*) compare="${1#*=}"; shift ;;
    *) args+=("$1"); shift ;;
  esac
done
options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_PYTHON=ON -DVELMORA_BUILD_BENCH=ON)

# The same build directory and options as scripts/test.sh, so neither reconfigures the other.
build=build/release
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target benchmarks _velmora

if [ -n "$compare" ]; then
  commit="$(git rev-parse --verify "$compare^{commit}")"
  before="build/compare/$commit"
  if [ ! -d "$before/src" ]; then
    rm -rf "$before/partial" && mkdir -p "$before/partial"
    git archive "$commit" | tar -x -C "$before/partial"
    mv "$before/partial" "$before/src"
  fi
  cmake -S "$before/src" -B "$before/release" "${options[@]}" >/dev/null
  cmake --build "$before/release" -j "$(nproc)" --target benchmarks _velmora
  args+=(--compare-source "$before/src" --compare-build "$before/release")
fi
python3 bench/run.py --build-dir "$build" "${args[@]}"
