#!/usr/bin/env bash
# Builds Tarnbox and runs it on http://127.0.0.1:8080 (DEMO_PORT=N for
# another port) with local demo mail servers (Dovecot POP3 and Postfix SMTP
# on loopback), two demo users and a few messages. Everything listens on
# 127.0.0.1 only: the demo's passwords are public. Ctrl-C stops everything
# it started and removes its scratch folder.
# TARNBOX_BIN=FILE runs that gateway binary instead of building one.
# DEMO_TLS=1 reads over POP3S and sends through SMTP submission with
# STARTTLS and AUTH, the servers' certificate checked against a demo
# authority that the gateway trusts through its home's mail-ca.pem.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bin=""
if [ -n "${TARNBOX_BIN:-}" ]; then
  bin="$(realpath -e -- "$TARNBOX_BIN")" || exit 2
fi
cd "$top"
port="${DEMO_PORT:-8080}"
host=127.0.0.1

japanese() {
  case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in ja*) return 0 ;; esac
  return 1
}
# say ENGLISH JAPANESE: one line in the terminal's language.
say() { if japanese; then printf '%s\n' "$2"; else printf '%s\n' "$1"; fi; }

if ! [[ "$port" =~ ^[0-9]{1,5}$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
  say "DEMO_PORT must be a port number (1-65535), not '$port'." \
      "DEMO_PORT にはポート番号 (1-65535) を指定してください: '$port'" >&2
  exit 2
fi
next_port=$((port == 65535 ? 8081 : port + 1))
port_taken() {
  python3 - "$host" "$port" <<'EOF'
import errno, socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind((sys.argv[1], int(sys.argv[2])))
except OSError as e:
    sys.exit(0 if e.errno == errno.EADDRINUSE else 1)
sys.exit(1)
EOF
}
busy() {
  say "Port $port on $host is already in use. Start the demo on another port:" \
      "ポート $port ($host) はすでに使われています。別のポートで起動してください:" >&2
  echo "  DEMO_PORT=$next_port bash scripts/demo.sh" >&2
  exit 1
}

[ -n "$bin" ] || bash scripts/install-deps.sh
port_taken && busy
bash scripts/install-mail-servers.sh
if [ -z "$bin" ]; then
  # Only the gateway is built; the folder keeps the options it was made
  # with, so scripts/test.sh can share it.
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"${JOBS:-2}" --target tarnbox
  bin="$top/build/tarnbox"
fi

# Every process below is this script's child, in a session of its own so
# that Ctrl-C reaches only this script, which then stops them in order.
scratch=""
mail_pid=""
gateway_pid=""
cleanup() {
  trap '' INT TERM
  if [ -n "$gateway_pid" ]; then
    kill -TERM "$gateway_pid" 2>/dev/null || true
    wait "$gateway_pid" 2>/dev/null || true
  fi
  if [ -n "$mail_pid" ]; then
    # The mail servers stop when their helper's stdin closes.
    [ -n "${MAIL[1]:-}" ] && exec {MAIL[1]}>&-
    kill -TERM "$mail_pid" 2>/dev/null || true
    wait "$mail_pid" 2>/dev/null || true
  fi
  [ -n "$scratch" ] && rm -rf "$scratch"
  return 0
}
trap cleanup EXIT
trap 'exit 0' INT TERM
scratch="$(mktemp -d "${TMPDIR:-/tmp}/tarnbox-demo-XXXXXX")"
# The mail servers' own users must reach their folders inside.
chmod 755 "$scratch"
home="$scratch/home"
mkdir -m 700 "$home"

tls_flag=""
[ "${DEMO_TLS:-}" = 1 ] && tls_flag="--tls"
coproc MAIL { exec setsid python3 "$top/scripts/demo_mail.py" $tls_flag "$scratch/mail"; }
mail_pid=$MAIL_PID
if ! read -r ports <&"${MAIL[0]}"; then
  say "The demo mail servers did not start." "デモ用のメールサーバーを起動できませんでした。" >&2
  exit 1
fi
field() { python3 -c 'import json,sys; print(json.loads(sys.argv[1]).get(sys.argv[2], ""))' "$ports" "$1"; }
pop3_port="$(field pop3_port)"
smtp_port="$(field smtp_port)"

"$bin" --home "$home" init --http-port "$port" --smtp-server 127.0.0.1 --smtp-port "$smtp_port" \
  --pop3-server 127.0.0.1 --pop3-port "$pop3_port" >/dev/null
"$bin" --home "$home" settings set apop_changeable=1 >/dev/null
if [ -n "$tls_flag" ]; then
  cp "$(field authority)" "$home/mail-ca.pem"
  pop3_port="$(field pop3s_port)"
  smtp_port="$(field submission_port)"
  "$bin" --home "$home" settings server pop3_security=tls smtp_security=starttls smtp_auth=pop3 \
    pop3_port="$pop3_port" smtp_port="$smtp_port" >/dev/null
fi
"$bin" --home "$home" users add --name "山田 太郎" --mail-address taro@test.example \
  --id taro --password taro-pw --cc --bcc --apop >/dev/null
"$bin" --home "$home" users add --name "佐藤 花子" --mail-address hanako@test.example \
  --id hanako --password hanako-pw --cc --bcc >/dev/null

setsid "$bin" --home "$home" serve --listen "$host" </dev/null &
gateway_pid=$!
# The address is shown once the gateway accepts a connection.
ready=""
for _ in $(seq 1 100); do
  if ! kill -0 "$gateway_pid" 2>/dev/null; then
    wait "$gateway_pid" 2>/dev/null || true
    gateway_pid=""
    port_taken && busy
    say "The gateway ended at start." "ゲートウェイが起動時に終了しました。" >&2
    exit 1
  fi
  if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null && kill -0 "$gateway_pid" 2>/dev/null; then
    ready=1
    break
  fi
  sleep 0.1
done
if [ -z "$ready" ]; then
  say "The gateway did not open port $port within 10 seconds." \
      "ゲートウェイが 10 秒以内にポート $port を開きませんでした。" >&2
  exit 1
fi

echo
say "Tarnbox demo: open http://$host:$port/" "Tarnbox デモ: http://$host:$port/ を開いてください"
say "  log in as taro / taro-pw (a few messages waiting) or hanako / hanako-pw" \
    "  taro / taro-pw (メールが数通届いています) か hanako / hanako-pw でログイン"
over=""
[ -n "$tls_flag" ] && over=" (POP3S, STARTTLS + AUTH)"
say "  POP3 $host:$pop3_port, SMTP $host:$smtp_port$over; Ctrl-C stops everything" \
    "  POP3 $host:$pop3_port, SMTP $host:$smtp_port$over; Ctrl-C ですべて終了します"
wait "$gateway_pid" || true
gateway_pid=""
