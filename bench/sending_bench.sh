#!/usr/bin/env bash
# Sending benchmark: a message with a 10 MiB attachment through the gateway,
# beside a bare SMTP client sending the same DATA bytes to the same Postfix
# (both on 127.0.0.1), and twenty users sending at once.
#
#   bash bench/sending_bench.sh /path/to/tarnbox
#
# Prints a table with the ratio and its target. Not a test: slowness never
# changes the exit status. Sizes: BENCH_REPEAT, BENCH_USERS,
# BENCH_ATTACHMENT_MIB, BENCH_CROWD_KB.
set -uo pipefail
bin="${1:-}"
if [ -z "$bin" ]; then
  echo "usage: bash bench/sending_bench.sh /path/to/tarnbox" >&2
  exit 2
fi
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
here="$(cd "$(dirname "$0")" && pwd)"
# exec: Ctrl-C and TERM reach the Python side directly, which stops the
# servers and the gateway it started.
exec python3 "$here/sending_bench.py" "$bin"
