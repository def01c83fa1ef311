#!/usr/bin/env bash
# Registering the gateway as a systemd service, against a scratch home and a
# scratch unit folder (systemctl is never called for those).
set -u
bin="$(realpath "$1")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
home="$tmp/web mail"
units="$tmp/units"
mkdir -p "$home" "$units"
. "$(dirname "$0")/checks.sh"
expect() { # description, test words...
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
t() { "$bin" --home "$home" "$@"; }
unit="$units/tarnbox.service"

says "install before init" 1 "tarnbox init" t service install --unit-dir "$units"
expect "no unit without a data file" test ! -e "$unit"

check "init" 0 t init
says "install" 0 "サービスに登録しました。" t service install --unit-dir "$units"
expect "unit written" test -f "$unit"
text="$(cat "$unit")"
expect_text "runs this binary on the home" \
  "ExecStart=$bin --home \"$(realpath "$home")\" serve" "$text"
expect_text "home writable" "ReadWritePaths=\"$(realpath "$home")\"" "$text"
expect_text "stops by SIGTERM" "KillSignal=SIGTERM" "$text"
expect "readable by systemd" test "$(stat -c %a "$unit")" = 644
expect "no temporary left" test "$(ls -A "$units")" = "tarnbox.service"
check "systemd accepts the unit" 0 systemd-analyze verify "$unit"

check "reinstall with a user" 0 t service install --unit-dir "$units" --user nobody
expect_text "user line" "User=nobody" "$(cat "$unit")"
check "bad user name" 1 t service install --unit-dir "$units" --user "no body"
expect_text "bad user keeps the old unit" "User=nobody" "$(cat "$unit")"
check "unknown option" 1 t service install --unit-dir "$units" --force
says "missing unit folder" 1 "サービスに登録できませんでした。" t service install --unit-dir "$tmp/none"

says "https without its files" 1 "https-cert.pem がありません。" t service install --unit-dir "$units" --https-listen 8443
expect_text "no https in the old unit" "serve" "$(grep ExecStart "$unit")"
check "https pair" 0 t https self-signed --name 127.0.0.1
check "https bad address" 1 t service install --unit-dir "$units" --https-listen localhost:8443
check "install with https" 0 t service install --unit-dir "$units" --https-listen "[::1]:8443"
expect_text "serve listens for https" \
  "ExecStart=$bin --home \"$(realpath "$home")\" serve --https-listen \"[::1]:8443\"" "$(cat "$unit")"

says "remove" 0 "サービスから削除しました。" t service remove --unit-dir "$units"
expect "unit deleted" test ! -e "$unit"
says "remove again" 1 "サービスから削除できませんでした。" t service remove --unit-dir "$units"

if [ ! -d /run/systemd/system ]; then
  check "start without systemd" 1 t service start
  expect_text "says why" "systemd" "$out"
  check "status without systemd" 1 t service status
fi

says "help" 0 "service install" "$bin" help
expect_text "help explains" "サービス削除" "$out"

echo "service_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
