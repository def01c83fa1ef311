#!/usr/bin/env bash
# TLS benchmark: lists and a large attachment over POP3S through the gateway,
# beside a bare TLS client of the same Dovecot (all on 127.0.0.1).
#
#   bash bench/tls_bench.sh /path/to/tarnbox
set -uo pipefail
bin="${1:-}"
if [ -z "$bin" ]; then
  echo "usage: bash bench/tls_bench.sh /path/to/tarnbox" >&2
  exit 2
fi
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
exec python3 "$(cd "$(dirname "$0")" && pwd)/tls_bench.py" "$bin"
