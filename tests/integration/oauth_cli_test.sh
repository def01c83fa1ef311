#!/usr/bin/env bash
# `tarnbox oauth` and `users add/change --oauth`: providers kept in the home,
# the client secret apart and private, and sets that name only registered
# providers.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home

check "init" 0 t init --http-port 8089 --smtp-server 127.0.0.1 --pop3-server 127.0.0.1
check "settings" 0 t settings set per_user_servers=1
says "no providers yet" 0 "登録されていません" t oauth show

printf 'the-client-secret\n' >"$home/secret.txt"
check "preset" 0 t oauth provider gmail --preset google --client-id cid.apps \
  --client-secret-file "$home/secret.txt" --redirect-url https://gw.example/mail/oauth/callback
says "show" 0 "auth-url      https://accounts.google.com/o/oauth2/v2/auth" t oauth show
expect_text "token url" "token-url     https://oauth2.googleapis.com/token" "$out"
expect_text "scope" "scope         https://mail.google.com/" "$out"
expect_text "secret kept" "client-secret (保存済み)" "$out"
if grep -qF the-client-secret <<<"$out$(cat "$home/oauth-providers")"; then
  failed=$((failed + 1)); echo "FAIL: the secret is shown or in the providers file"
else passed=$((passed + 1)); fi
expect_same "secret file private" 600 "$(stat -c %a "$home/oauth-secret-gmail")"

# Options given beside a preset win, wherever they stand.
check "override" 0 t oauth provider gmail --scope "https://mail.google.com/ x" --preset google
says "show override" 0 "scope         https://mail.google.com/ x" t oauth show
check "microsoft" 0 t oauth provider ms --client-id m --redirect-url https://gw.example/cb --preset microsoft
says "show ms" 0 "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access" t oauth show

before="$(cat "$home/oauth-providers")"
check "missing endpoints" 1 t oauth provider other --client-id x --redirect-url https://gw/cb
check "plain http elsewhere than loopback" 1 t oauth provider other --client-id x \
  --auth-url http://login.example/a --token-url http://login.example/t --redirect-url https://gw/cb
expect_text "says why" "ループバック" "$out"
check "a name that is a path" 1 t oauth provider ../x --preset google --client-id x --redirect-url https://gw/cb
check "unknown preset" 1 t oauth provider other --preset yahoo
check "unknown option" 1 t oauth provider other --client-id x --colour red
expect_same "refusals left the file" "$before" "$(cat "$home/oauth-providers")"
check "loopback http" 0 t oauth provider local --client-id x --auth-url http://127.0.0.1:9/a \
  --token-url http://[::1]:9/t --redirect-url http://127.0.0.1:8089/mail/oauth/callback

check "user with a provider" 0 t users add --name T --mail-address t@example.jp --id taro --password p --oauth gmail
says "shown" 0 "oauth=gmail" t users show taro
expect_text "not connected yet" "(未連携" "$out"
says "unregistered provider" 1 "nope" t users add --name H --mail-address h@example.jp --id hanako --password p --oauth nope
check "not added" 1 t users show hanako
check "change provider" 0 t users change taro --oauth ms
says "shown after change" 0 "oauth=ms " t users show taro
# Another mailbox keeps the provider, to be connected anew.
check "new mailbox" 0 t users change taro --id jiro
says "shown for the new mailbox" 0 "oauth=ms " t users show jiro
check "off" 0 t users change jiro --oauth off
says "shown off" 0 "oauth=off" t users show jiro

# The column after verify in an import names the provider.
printf 'Imported,imp@example.jp,imp,pw,,,,,,,,,,,,ms\r\nBad,bad@example.jp,bad,pw,,,,,,,,,,,,nope\r\n' >"$home/users.csv"
check "import refuses the unknown provider" 1 t users import "$home/users.csv"
says "imported" 0 "oauth=ms " t users show imp
check "not imported" 1 t users show bad

check "remove" 0 t oauth remove gmail
[ ! -e "$home/oauth-secret-gmail" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: secret left"; }
check "show after remove" 0 t oauth show
if grep -qF "[gmail]" <<<"$out"; then failed=$((failed + 1)); echo "FAIL: gmail still shown"; else passed=$((passed + 1)); fi
check "remove again" 1 t oauth remove gmail

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
