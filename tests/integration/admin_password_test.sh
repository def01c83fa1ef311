#!/usr/bin/env bash
# The administrator password: setting, changing and deleting it, and the gate
# it puts in front of the commands that change the gateway.
set -u
bin="$1"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
passed=0
failed=0

run() { # expected status, stdin text, command... ; leaves the output in $out
  local want="$1" input="$2"
  shift 2
  out="$(printf '%b' "$input" | "$bin" --home "$home" "$@" 2>&1)"
  local got=$?
  if [ "$got" -eq "$want" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: $* (status $got, wanted $want): $out"; fi
}
says() { # needle
  if grep -qF -- "$1" <<<"$out"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: '$1' not in: $out"; fi
}

run 0 "" init
run 0 "" settings set http_port=8081
run 1 "one\ntwo\n" admin-password
says "パスワードとパスワード再入力には同じものを入れてください。"
run 0 "Secret-1\nSecret-1\n" admin-password
says "パスワードを設定しました。"

# Scripts name a file; without one (and without a terminal) nothing runs.
run 1 "" settings set http_port=8082
says "--admin-password-file"
printf 'secret-1\n' >"$home/wrong"
run 1 "" --admin-password-file "$home/wrong" settings set http_port=8082
says "管理者用パスワードが違います。"
printf 'Secret-1\n' >"$home/right"
run 0 "" --admin-password-file "$home/right" settings set http_port=8082
run 0 "" --admin-password-file "$home/right" settings show
says "http_port=8082"
run 1 "" users list
# Commands outside the administration stay open.
run 0 "" --version

run 1 "wrong\nA\nA\n" admin-password
says "管理者用旧パスワードが違います。"
run 1 "Secret-1\nA\nB\n" admin-password
says "新パスワードと新パスワード再入力には同じものを入れてください。"
long="$(printf 'x%.0s' $(seq 39))"
run 0 "Secret-1\n${long}\n${long}\n" admin-password
says "パスワードを変更しました。"
printf '%s\n' "$long" >"$home/long"
run 0 "" --admin-password-file "$home/long" users list
run 0 "${long}\n\n\n" admin-password
says "パスワードを削除しました。"
run 0 "" users list

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
