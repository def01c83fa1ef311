#!/usr/bin/env bash
# Long fuzz runs, one target after the other, each from a fresh copy of its
# seed corpus. Prints one Markdown table row per target (runs, wall time,
# executions per second, corpus size at the end, findings) for
# bench/fuzz-runs.md. Findings are kept with their logs under the output
# folder; the grown corpora are thrown away.
#
#   bench/fuzz_long.sh [-r RUNS] [-t SECONDS] [-o DIR] [TARGET...]
#
# -r  runs per target (10000000 unless given)
# -t  stop a target after this many seconds even short of its runs (none)
# -o  where findings and logs go (a new folder under /tmp unless given)
# Without targets every fuzz_* target in build-fuzz runs. build-fuzz is
# built optimised, with the sanitizers, when it is missing. Runs are niced:
# the machine is shared.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"

runs=10000000
seconds=0
out=""
while getopts "r:t:o:" opt; do
  case "$opt" in
    r) runs="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    o) out="$OPTARG" ;;
    *) echo "usage: $0 [-r RUNS] [-t SECONDS] [-o DIR] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ -n "$out" ] || out="$(mktemp -d /tmp/tarnbox-fuzz-long-XXXXXX)"
mkdir -p "$out"

if [ ! -d build-fuzz ]; then
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNBOX_FUZZ=ON -DTARNBOX_TESTS=OFF -DTARNBOX_BENCH=OFF >/dev/null
fi
cmake --build build-fuzz -j"${JOBS:-2}" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# Readers whose limits lie past libFuzzer's default 4096-byte inputs: lines
# of 4096 bytes and the data file's 4000-byte slots need room to overflow.
max_len_of() {
  case "$1" in
    fuzz_data_file) echo 12800 ;;
    fuzz_request_reader | fuzz_pop3_exchange | fuzz_smtp_reply | fuzz_poppassd_reply \
      | fuzz_mime_parser | fuzz_message_view) echo 10000 ;;
    *) echo 0 ;;
  esac
}

stat_of() { # the value of one stat:: line of a log
  grep -E "^stat::$1:" "$2" | awk '{print $2}' | tail -n 1
}

echo "| target | runs | wall time | exec/s | corpus | findings |"
echo "|---|---:|---:|---:|---:|---|"
status=0
for name in "${targets[@]}"; do
  bin="build-fuzz/$name"
  [ -x "$bin" ] || { echo "no such target: $name" >&2; status=1; continue; }
  work="$out/$name.corpus"
  rm -rf "$work"
  mkdir -p "$work" "$out/$name.findings"
  [ -d "tests/fuzz/corpus/$name" ] && cp -r "tests/fuzz/corpus/$name"/. "$work"/
  args=(-runs="$runs" -print_final_stats=1 -artifact_prefix="$out/$name.findings/")
  [ "$seconds" -gt 0 ] && args+=(-max_total_time="$seconds")
  max_len="$(max_len_of "$name")"
  [ "$max_len" -gt 0 ] && args+=(-max_len="$max_len")
  log="$out/$name.log"
  start=$(date +%s)
  rc=0
  nice -n 19 "$bin" "${args[@]}" "$work" >"$log" 2>&1 || rc=$?
  wall=$(($(date +%s) - start))
  done_runs="$(stat_of number_of_executed_units "$log")"
  rate="$(stat_of average_exec_per_sec "$log")"
  found="none"
  if [ "$rc" -ne 0 ]; then
    found="$(grep -a -m 1 -Eo 'SUMMARY: .*' "$log" || grep -a -m 1 -Eo 'ERROR: .*' "$log" || true)"
    found="${found:-exit $rc} (see $out/$name.findings)"
    status=1
  fi
  printf '| %s | %s | %dm%02ds | %s | %s | %s |\n' "$name" "${done_runs:-?}" $((wall / 60)) \
    $((wall % 60)) "${rate:-?}" "$(find "$work" -type f | wc -l)" "$found"
  rm -rf "$work"
done
exit "$status"
