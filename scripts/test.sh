#!/usr/bin/env bash
# Builds Tarnbox and runs every test: the unit and integration tests, the unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and each
# fuzz target for a short time.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-20}"

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNBOX_SANITIZE=ON -DTARNBOX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests tarnbox
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzz targets, ${fuzz_seconds}s each"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DTARNBOX_FUZZ=ON -DTARNBOX_TESTS=OFF -DTARNBOX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
for target in build-fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  work="$(mktemp -d)"
  seeds="tests/fuzz/corpus/$name"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$work" 2>"$work.log" \
    || { tail -n 40 "$work.log"; exit 1; }
  echo "$name: $(grep -E 'stat::number_of_executed_units' "$work.log" | awk '{print $2}') runs," \
       "corpus $(ls "$work" | wc -l) files"
  rm -rf "$work" "$work.log"
done
echo "all tests passed"
