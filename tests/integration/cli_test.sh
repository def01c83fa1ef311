#!/usr/bin/env bash
# The administration command line against a fresh home: first start, settings,
# users, and the refusals that must leave the data file untouched.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home

says "version" 0 "Tarnbox 1.51" "$bin" --version
says "serve refuses without a data file" 1 "設定ができません。終了します。" t serve
expect_text "hint" "tarnbox init" "$out"
check "init" 0 t init --http-port 8089 --smtp-server 127.0.0.1 --pop3-server 127.0.0.1 --pop3-port 11110
for d in user temp html; do [ -d "$home/$d" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: no $d folder"; }; done
before="$(sha256sum "$home/tarnbox.dat")"
check "second init refused" 1 t init
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: init changed the file"; }

says "settings show" 0 "http_port=8089" t settings show
expect_text "pop3 port" "pop3_port=11110" "$out"
expect_text "colours" "page_colours=0000FF,400080,000000,FFFFFF,000000" "$out"
expect_text "log folder is the user folder" "log_folder=$home/user" "$out"
[ "$(grep -c = <<<"$out")" -eq 32 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: field count"; }

before="$(sha256sum "$home/tarnbox.dat")"
says "out of range refused" 1 "fixed_columns" t settings set fixed_rows=5 fixed_columns=201
check "unknown field" 1 t settings set no_such=1
check "text too long" 1 t settings set fixed_quotation=1234567
check "not Shift_JIS" 1 t settings set top_page=😀.html
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused set changed the file"; }
check "set several" 0 t settings set top_page=トップ.html log_size_kb=30000 multiple_addresses=1 page_colours=$(printf 'ABCDEF,%.0s' $(seq 29))123456
says "show after set" 0 "top_page=トップ.html" t settings show
expect_text "log size" "log_size_kb=30000" "$out"
expect_text "last colour" ",123456" "$out"

check "add user" 0 t users add --name 山田太郎 --mail-address taro@example.jp --id taro --password secret --cc
check "add second" 0 t users add --name Hanako --mail-address hanako@example.jp --id hanako --password pw2 --apop
says "duplicate id" 1 "すでに登録済みのPOP3ユーザー名です。" t users add --name X --mail-address x@example.jp --id taro --password p
says "empty name" 1 "名前を入力してください。" t users add --name "" --mail-address x@example.jp --id x --password p
says "address without at" 1 "メールアドレスが正しくありません。" t users add --name X --mail-address x.example.jp --id x --password p
says "empty password" 1 "パスワードとパスワード再入力にパスワードを入力してください。" t users add --name X --mail-address x@example.jp --id x --password ""
check "id that climbs out" 1 t users add --name X --mail-address x@example.jp --id ../x --password p
check "servers fixed by the administrator" 1 t users add --name X --mail-address x@e.jp --id x --password p --smtp-server 10.0.0.1
# A value with a line break would reach a mail server as a command of its own
# (the POP3 server would read "PASS pw" and then "DELE 1"); nothing is written.
before="$(sha256sum "$home/tarnbox.dat")"
says "password with CR LF" 1 "--password: 改行 (CR, LF) や NUL 文字は使えません。" t users add --name X --mail-address x@example.jp --id x --password $'pw\r\nDELE 1'
says "user name with LF" 1 "--id: 改行" t users add --name X --mail-address x@example.jp --id $'x\nDELE 1' --password p
says "change to an address with CR" 1 "--mail-address: 改行" t users change taro --mail-address $'t@example.jp\rRCPT TO:<x@y.z>'
says "HELO name with LF" 1 "smtp_server: 改行" t settings server smtp_server=$'smtp.example.jp\nRSET'
says "stored word with CR" 1 "pop3_server: 改行" t settings set pop3_server=$'pop.example.jp\rQUIT'
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused line break changed the file"; }

says "list" 0 "$(printf '0\ttaro\t山田太郎\ttaro@example.jp')" t users list
expect_text "second user" "$(printf '1\thanako\tHanako\thanako@example.jp')" "$out"
[ "$(stat -c %s "$home/tarnbox.dat")" -eq 8800 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: file size"; }

# --- users show and change ----------------------------------------------------
says "show" 0 "name=山田太郎 " t users show taro
expect_text "server default" "pop3-server=127.0.0.1 " "$out"
expect_text "cc as added" "cc=on " "$out"
expect_text "bcc" "bcc=off " "$out"
[ "$(grep -c secret <<<"$out")" -eq 0 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: show printed the password"; }
says "show an unknown user" 1 "nobody: そのユーザーは登録されていません。" t users show nobody

before="$(sha256sum "$home/tarnbox.dat")"
says "new id taken" 1 "すでに登録済みのPOP3ユーザー名です。" t users change taro --id hanako
says "new id empty" 1 "POP3ユーザー名を入力してください。" t users change taro --id ""
check "new id that climbs out" 1 t users change taro --id ../x
check "new id too long" 1 t users change taro --id "$(printf 'x%.0s' $(seq 40))"
says "cc needs on or off" 1 "--cc には on か off を指定してください。" t users change taro --cc yes
says "poppassd while off" 1 "基本設定で poppassd の使用がオフになっているため、--poppassd は使えません。" t users change taro --password new --poppassd
says "TLS of one user needs per-user servers" 1 "tarnbox settings server" t users change taro --pop3-security tls
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused change changed the file"; }
check "per-user servers on" 0 t settings server per_user_servers=on
check "TLS for one user" 0 t users change taro --pop3-security tls --smtp-security starttls --smtp-auth pop3
says "show after" 0 "pop3-port=995 " t users show taro
expect_text "smtp submission port" "smtp-port=587 " "$out"
expect_text "smtp auth" "smtp-auth=pop3 " "$out"
check "an own port" 0 t users change taro --pop3-port 10995 --verify off
says "show own port" 0 "pop3-port=10995 " t users show taro
expect_text "smtp port kept" "smtp-port=587 " "$out"
expect_text "verify off" "verify=off " "$out"
check "back to plain" 0 t users change taro --pop3-security none --smtp-security none --smtp-auth none --verify on
check "per-user servers off" 0 t settings server per_user_servers=off
check "poppassd on" 0 t settings set poppassd_value=1
says "poppassd without a new password" 1 "--poppassd は新しいパスワードと一緒に指定してください。" t users change taro --poppassd --name X
check "settings set back" 0 t settings set poppassd_value=0

check "rename with the boxes" 0 t users change taro --id taro2 --cc off --bcc on
check "old id gone" 1 t users show taro
says "show renamed" 0 "id=taro2 " t users show taro2
expect_text "cc off" "cc=off " "$out"
expect_text "bcc on" "bcc=on " "$out"
says "list keeps the place" 0 "$(printf '0\ttaro2\t山田太郎')" t users list
check "rename back" 0 t users change taro2 --id taro

# --- passwords off the command line -------------------------------------------
printf 'from-file\n' >"$home/pw"
before="$(sha256sum "$home/tarnbox.dat")"
check "password from a file" 0 t users change taro --password-file "$home/pw"
[ "$before" != "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: password file changed nothing"; }
before="$(sha256sum "$home/tarnbox.dat")"
printf 'pw\nDELE 1\n' >"$home/two-lines"
says "a file of two lines" 1 "--password-file: パスワードは一行だけにしてください。" t users change taro --password-file "$home/two-lines"
says "a missing file" 1 "を読めません" t users change taro --password-file "$home/none"
says "two sources" 1 "のどれか一つで指定してください。" t users change taro --password p --password-stdin
says "no terminal to ask on" 1 "--password-file か --password-stdin" t users change taro --password </dev/null
says "a line break from standard input" 1 "--password: 改行 (CR, LF) や NUL 文字は使えません。" sh -c "printf 'pw\\rDELE 1\\n' | \"\$0\" --home \"\$1\" users change taro --password-stdin" "$bin" "$home"
says "add without a password, no terminal" 1 "パスワードとパスワード再入力にパスワードを入力してください。" t users add --name X --mail-address x@example.jp --id x </dev/null
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused password changed the file"; }
check "add with the password from standard input" 0 sh -c "printf 'piped\\n' | \"\$0\" --home \"\$1\" users add --name Y --mail-address y@example.jp --id y --password-stdin" "$bin" "$home"
check "delete it again" 0 t users delete --yes y

# A full table refuses the 101st user with the message of the form.
for i in $(seq 3 100); do t users add --name "u$i" --mail-address "u$i@e.jp" --id "u$i" --password p >/dev/null 2>&1; done
check "list of 100" 0 t users list
[ "$(wc -l <<<"$out")" -eq 100 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: not 100 users"; }
says "101st refused" 1 "これ以上の登録はできません。" t users add --name X --mail-address x@e.jp --id u101 --password p

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
