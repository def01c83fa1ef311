#!/usr/bin/env bash
# Builds Tarnbox and runs every test: unit and integration tests (real Dovecot
# and Postfix on loopback), the browser tests in headless Chromium, the unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and each
# fuzz target for a short time.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-20}"
passed=0
log="$(mktemp)"
trap 'rm -f "$log"' EXIT

count_ctest() { # adds the number of tests ctest ran (all passed) to $passed
  local n
  n="$(grep -Eo 'tests failed out of [0-9]+' "$log" | tail -n 1 | grep -Eo '[0-9]+$' || echo 0)"
  passed=$((passed + n))
}

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
bash scripts/install-mail-servers.sh
bash scripts/install-nginx.sh
ctest --test-dir build --output-on-failure -j"$jobs" | tee "$log"
count_ctest

echo "== browser tests in headless Chromium"
bash scripts/install-browser.sh
# One file at a time: each starts its own browser and servers, and Debian's
# Node.js predates the runner's concurrency option. A journey that hangs
# fails after ten minutes instead of holding up the run.
# The layout journey leaves its screenshots here for a person to look at.
export TARNBOX_SCREENSHOTS="$top/build/screenshots"
for journey in tests/e2e/*.test.mjs; do
  (cd tests/e2e && TARNBOX_BIN="$top/build/tarnbox" timeout -k 10 600 node --test "$(basename "$journey")") | tee "$log"
  passed=$((passed + $(grep -Eo '^# pass [0-9]+' "$log" | grep -Eo '[0-9]+$' || echo 0)))
done
echo "screenshots of the main pages (phone and desktop, light and dark): $TARNBOX_SCREENSHOTS"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNBOX_SANITIZE=ON -DTARNBOX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests tarnbox
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -E '^integration\.' \
  | tee "$log"
count_ctest

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
       "corpus $(find "$work" -type f | wc -l) files"
  rm -rf "$work" "$work.log"
  passed=$((passed + 1))
done
echo "summary: $passed passed, 0 failed"
