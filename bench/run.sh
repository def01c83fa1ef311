#!/usr/bin/env bash
# Runs every benchmark in release mode. Each prints its own numbers beside
# its baseline, measured in the same run. Not a test: nothing here fails on
# a slow machine.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARNBOX_TESTS=OFF -DTARNBOX_BENCH=ON >/dev/null
cmake --build build-bench -j"${JOBS:-2}"
for b in build-bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
for s in bench/*_bench.sh; do
  [ -f "$s" ] || continue
  echo "== $(basename "$s")"
  bash "$s" "$top/build-bench/tarnbox"
done
