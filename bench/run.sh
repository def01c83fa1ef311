#!/usr/bin/env bash
# Runs every benchmark in release mode. Each prints its own numbers beside
# its baseline, measured in the same run. Not a test: nothing here fails on
# a slow machine.
#
#   bash bench/run.sh          every benchmark below
#   bash bench/run.sh peers    only the comparison with Roundcube (bench/peers.sh;
#                              not in the full run: it installs a webmail stack)
#   bash bench/run.sh pages    only page weight and load time on a phone beside
#                              the pages before the stylesheet (bench/page_weight.sh)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARNBOX_TESTS=OFF -DTARNBOX_BENCH=ON >/dev/null
cmake --build build-bench -j"${JOBS:-2}"
if [ "${1:-}" = peers ]; then
  exec bash bench/peers.sh "$top/build-bench/tarnbox"
fi
if [ "${1:-}" = pages ]; then
  exec bash bench/page_weight.sh "$top/build-bench/tarnbox"
fi
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
