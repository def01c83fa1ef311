#!/usr/bin/env bash
# Reading benchmark: list pages and a large attachment through the gateway,
# beside a bare POP3 client asking the same Dovecot (both on 127.0.0.1).
#
#   bash bench/reading_bench.sh /path/to/tarnbox
#
# Prints a table with the ratios and their targets. Not a test: slowness never
# changes the exit status. Sizes: BENCH_MESSAGES, BENCH_USERS, BENCH_REPEAT.
set -uo pipefail
bin="${1:-}"
if [ -z "$bin" ]; then
  echo "usage: bash bench/reading_bench.sh /path/to/tarnbox" >&2
  exit 2
fi
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
here="$(cd "$(dirname "$0")" && pwd)"
# exec: Ctrl-C and TERM reach the Python side directly, which stops the
# Dovecot and gateway it started.
exec python3 "$here/reading_bench.py" "$bin"
