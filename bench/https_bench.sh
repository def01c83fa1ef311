#!/usr/bin/env bash
# HTTPS benchmark: small pages from the gateway's HTTPS listener beside nginx
# with TLS serving the same page (all on 127.0.0.1).
#
#   bash bench/https_bench.sh /path/to/tarnbox
set -uo pipefail
bin="${1:-}"
if [ -z "$bin" ]; then
  echo "usage: bash bench/https_bench.sh /path/to/tarnbox" >&2
  exit 2
fi
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
bash "$(cd "$(dirname "$0")/.." && pwd)/scripts/install-nginx.sh"
exec python3 "$(cd "$(dirname "$0")" && pwd)/https_bench.py" "$bin"
