#!/usr/bin/env bash
# Builds Tarnbox and runs it on http://127.0.0.1:8080 with local demo mail
# servers (Dovecot POP3 and Postfix SMTP on loopback), two demo users and a
# few messages. Ctrl-C stops everything it started.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
bash scripts/install-mail-servers.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNBOX_TESTS=OFF >/dev/null
cmake --build build -j"${JOBS:-2}" --target tarnbox
bin="$top/build/tarnbox"
home="$(mktemp -d /tmp/tarnbox-demo-XXXXXX)"

# The mail servers live as long as their stdin stays open.
coproc MAIL { exec python3 "$top/scripts/demo_mail.py"; }
mail_pid=$MAIL_PID
gateway_pid=""
cleanup() {
  [ -n "$gateway_pid" ] && kill -TERM "$gateway_pid" 2>/dev/null && wait "$gateway_pid" 2>/dev/null
  exec {MAIL[1]}>&- 2>/dev/null || true
  kill -TERM "$mail_pid" 2>/dev/null && wait "$mail_pid" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 0' INT TERM
read -r ports <&"${MAIL[0]}"
pop3_port="$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["pop3_port"])' "$ports")"
smtp_port="$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["smtp_port"])' "$ports")"

"$bin" --home "$home" init --http-port 8080 --smtp-server 127.0.0.1 --smtp-port "$smtp_port" \
  --pop3-server 127.0.0.1 --pop3-port "$pop3_port" >/dev/null
"$bin" --home "$home" settings set apop_changeable=1 >/dev/null
"$bin" --home "$home" users add --name "山田 太郎" --mail-address taro@test.example \
  --id taro --password taro-pw --cc --bcc --apop
"$bin" --home "$home" users add --name "佐藤 花子" --mail-address hanako@test.example \
  --id hanako --password hanako-pw --cc --bcc

echo
echo "Tarnbox demo: open http://127.0.0.1:8080/"
echo "  log in as taro / taro-pw (a few messages waiting) or hanako / hanako-pw"
echo "  POP3 127.0.0.1:$pop3_port, SMTP 127.0.0.1:$smtp_port; Ctrl-C stops everything"
"$bin" --home "$home" serve &
gateway_pid=$!
wait "$gateway_pid"
