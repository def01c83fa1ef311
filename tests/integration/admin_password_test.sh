#!/usr/bin/env bash
# The administrator password: setting, changing and deleting it, and the gate
# it puts in front of the commands that change the gateway.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
# Every command reads its input from a pipe: without a terminal a gated
# command cannot ask for the password.
a() { # what, expected status, text the output holds ("" for none), input, arguments...
  local what="$1" want="$2" text="$3" input="$4"
  shift 4
  check "$what" "$want" fed "$input" t "$@"
  [ -z "$text" ] || expect_text "$what" "$text" "$out"
}

a "init" 0 "" "" init
a "open before a password" 0 "" "" settings set http_port=8081
a "mismatch" 1 "パスワードとパスワード再入力には同じものを入れてください。" "one\ntwo\n" admin-password
a "set" 0 "パスワードを設定しました。" "Secret-1\nSecret-1\n" admin-password

# Scripts name a file; without one (and without a terminal) nothing runs.
a "no file" 1 "--admin-password-file" "" settings set http_port=8082
printf 'secret-1\n' >"$home/wrong"
a "wrong file" 1 "管理者用パスワードが違います。" "" --admin-password-file "$home/wrong" settings set http_port=8082
printf 'Secret-1\n' >"$home/right"
a "right file" 0 "" "" --admin-password-file "$home/right" settings set http_port=8082
a "the change held" 0 "http_port=8082" "" --admin-password-file "$home/right" settings show
a "users gated" 1 "" "" users list
# Commands outside the administration stay open.
a "version open" 0 "" "" --version

a "wrong old" 1 "管理者用旧パスワードが違います。" "wrong\nA\nA\n" admin-password
a "new mismatch" 1 "新パスワードと新パスワード再入力には同じものを入れてください。" "Secret-1\nA\nB\n" admin-password
long="$(printf 'x%.0s' $(seq 39))"
a "change" 0 "パスワードを変更しました。" "Secret-1\n${long}\n${long}\n" admin-password
printf '%s\n' "$long" >"$home/long"
a "long password file" 0 "" "" --admin-password-file "$home/long" users list
a "delete" 0 "パスワードを削除しました。" "${long}\n\n\n" admin-password
a "open again" 0 "" "" users list

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
