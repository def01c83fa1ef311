#!/usr/bin/env bash
# Builds Tarnbox and runs it on http://127.0.0.1:8080 with a demo home and a
# demo user. Ctrl-C stops it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNBOX_TESTS=OFF >/dev/null
cmake --build build -j"${JOBS:-2}" --target tarnbox
home="${TARNBOX_DEMO_HOME:-$top/build/demo-home}"
bin="$top/build/tarnbox"
if [ ! -f "$home/tarnbox.dat" ]; then
  "$bin" --home "$home" init --http-port 8080 --smtp-server 127.0.0.1 --pop3-server 127.0.0.1
  "$bin" --home "$home" users add --name "デモ 太郎" --mail-address taro@demo.test \
    --id taro --password taro-pw --cc --bcc
fi
echo "Tarnbox demo: open http://127.0.0.1:8080/ and log in as taro / taro-pw (Ctrl-C stops)"
exec "$bin" --home "$home" serve
