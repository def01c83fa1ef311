#!/usr/bin/env bash
# The three basic-settings pages by their controls, checked against the
# stored words that `settings show` prints.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
word() { t settings show | sed -n "s/^$1=//p"; }

check "init" 0 t init

# --- server page ----------------------------------------------------------
check "ports by word and number" 0 t settings server smtp_port=SMTP pop3_port=1110 http_port=8080x
expect_same "smtp word" 25 "$(word smtp_port)"
expect_same "pop3 number" 1110 "$(word pop3_port)"
expect_same "a field that begins with digits" 8080 "$(word http_port)"
says "page shows the standard port by its word" 0 "smtp_port=smtp " t settings server
says "unknown service" 1 "SMTPポートの名称が正しくありません。" t settings server smtp_port=no-such-service log_size_kb=5
expect_same "nothing of the page saved" 128 "$(word log_size_kb)"
says "port 0 is no port" 1 "HTTPポートの名称が正しくありません。" t settings server http_port=0
says "log size over the limit" 1 "送信ログサイズの上限値が大きすぎます。" t settings server log_size_kb=30001
check "log size at the limit" 0 t settings server log_size_kb=30000
expect_same "stored" 30000 "$(word log_size_kb)"

# Mail servers over TLS: a port on a usual number follows the security.
page_word() { t settings server | sed -n "s/^$1=\([^ ]*\) .*/\1/p"; }
check "TLS for everybody" 0 t settings server pop3_port=pop3 pop3_security=tls smtp_security=starttls smtp_auth=pop3
expect_same "pop3 on 995" 995 "$(word pop3_port)"
expect_same "smtp on 587" 587 "$(word smtp_port)"
expect_same "shown as chosen" "tls starttls pop3 on" "$(page_word pop3_security) $(page_word smtp_security) $(page_word smtp_auth) $(page_word verify)"
check "an own port stays" 0 t settings server pop3_port=1995 pop3_security=none verify=off
expect_same "pop3 own port" 1995 "$(word pop3_port)"
expect_same "verification off" off "$(page_word verify)"
check "an unknown security" 1 t settings server pop3_security=ssl
check "back to plain" 0 t settings server pop3_port=pop3 smtp_security=none smtp_auth=none verify=on
expect_same "smtp back on 25" 25 "$(word smtp_port)"

check "several addresses need per-user servers" 1 t settings server multiple_addresses=on
check "both on" 0 t settings server per_user_servers=on multiple_addresses=on
expect_same "multiple on" 1 "$(word multiple_addresses)"
check "unticking per-user servers" 0 t settings server per_user_servers=off
expect_same "unticks multiple addresses" 0 "$(word multiple_addresses)"

check "delete-link bits set on their page" 0 t settings permissions change_delete_link=on delete_link_fixed=off
expect_same "mail options 4+8" 12 "$(word mail_options)"
check "date and message-id" 0 t settings server add_date=on add_message_id=yes top_language=日本語/英語
expect_same "server page keeps the delete-link bits" 15 "$(word mail_options)"
expect_same "language both" 3 "$(word language_policy)"
check "language by word" 0 t settings server top_language=en
expect_same "language en" 2 "$(word language_policy)"

long="$(printf 'a%.0s' $(seq 79))"
check "a long image path" 0 t settings set background_image="/$(printf 'i%.0s' $(seq 254))"
says "with names of 79 and a 255 folder" 1 "パスの指定が長すぎます。" t settings server smtp_server="$long" pop3_server="$long" top_page="$long" log_folder="/$(printf 'f%.0s' $(seq 254))" 
says "one field too long" 1 "79 バイトまで" t settings server smtp_server="${long}b"
check "a Japanese top page" 0 t settings server top_page=トップ.html
says "shown in UTF-8" 0 "top_page=トップ.html" t settings server

# --- change permissions ---------------------------------------------------
check "rows 0 and columns 201" 0 t settings permissions rows_fixed=0 columns_fixed=201
expect_same "rows fall back to 10" 10 "$(word fixed_rows)"
expect_same "columns fall back to 80" 80 "$(word fixed_columns)"
check "rows 31, columns 200" 0 t settings permissions rows_fixed=31 columns_fixed=200
expect_same "rows 31 -> 10" 10 "$(word fixed_rows)"
expect_same "columns 200 kept" 200 "$(word fixed_columns)"
check "rows 30" 0 t settings permissions rows_fixed=30
expect_same "rows 30 kept" 30 "$(word fixed_rows)"

# Each box and fixed value lands on its own bit, in its own sense.
check "everything fixed" 0 t settings permissions change_name=off change_address=off \
  change_pop3_user=off change_password=off change_servers=off change_signature=off \
  change_poppassd=off poppassd_fixed=ON change_quotation=off quotation_fixed='> ' \
  change_columns=off change_rows=off change_uploads=off uploads_fixed=3 \
  change_header=off header_fixed=OFF change_read_marks=off read_marks_fixed=off \
  change_jump=off jump_fixed=off change_cc=off cc_fixed=off change_bcc=off bcc_fixed=off \
  change_folding=off folding_fixed=off change_save_text=off save_text_fixed=on \
  change_delete_link=off delete_link_fixed=on change_apop=off apop_fixed=on
expect_same "policy 1: fixed bits, name bit clear" $((4 + 8 + 16 + 32 + 64)) "$(word user_policy_1)"
expect_same "policy 2: fixed bits, address bit clear" $((4 + 8 + 16 + 32 + 64)) "$(word user_policy_2)"
expect_same "policy 3: folding off, save_text on" $((32 + 64)) "$(word user_policy_3)"
expect_same "policy 4: fixed values off" $((4 + 16 + 32 + 64)) "$(word user_policy_4)"
expect_same "language: apop on, header off, three fixed, English kept" \
  $((2 + 4 + 8 + 16 + 32 + 64)) "$(word language_policy)"
expect_same "mail options: date, id, nothing of the delete link" 3 "$(word mail_options)"
expect_same "poppassd value" 1 "$(word poppassd_value)"
expect_same "poppassd not changeable" 0 "$(word poppassd_changeable)"
expect_same "apop not changeable" 0 "$(word apop_changeable)"
expect_same "uploads" 3 "$(word fixed_uploads)"
expect_same "quotation" "> " "$(word fixed_quotation)"

check "everything changeable" 0 t settings permissions change_name=on change_address=on \
  change_pop3_user=on change_password=on change_servers=on change_signature=on \
  change_poppassd=on change_quotation=on change_columns=on change_rows=on change_uploads=on \
  change_header=on header_fixed=on change_read_marks=on read_marks_fixed=on change_jump=on \
  jump_fixed=on change_cc=on cc_fixed=on change_bcc=on bcc_fixed=on change_folding=on \
  folding_fixed=on change_save_text=on save_text_fixed=off change_delete_link=on \
  delete_link_fixed=on change_apop=on apop_fixed=off
expect_same "policy 1: may change the name" 1 "$(word user_policy_1)"
expect_same "policy 2" 1 "$(word user_policy_2)"
expect_same "policy 3" 1 "$(word user_policy_3)"
expect_same "policy 4" 1 "$(word user_policy_4)"
expect_same "language bits only" 2 "$(word language_policy)"
expect_same "delete link changeable" $((3 + 8)) "$(word mail_options)"
says "page marks the unused fixed values" 0 "uploads_fixed=3             # 固定値 (変更許可中は使われません)" t settings permissions

check "a quotation of seven bytes" 1 t settings permissions quotation_fixed=1234567
says "uploads out of the list" 1 "1, 2, 3" t settings permissions uploads_fixed=11
check "a box takes on or off only" 1 t settings permissions change_cc=maybe
check "unknown control" 1 t settings permissions change_everything=on

# --- colours --------------------------------------------------------------
check "a chosen colour ticks its line" 0 t settings colours link_colour=#ff0000 visited_colour=00ff00 visited=off
expect_same "only the link is user-defined" 1 "$(word colour_flags)"
check "background colour selects it" 0 t settings colours background_colour=123456
expect_same "mode 1" 1 "$(word background_mode)"
expect_text "words 0, 1 and 3" "page_colours=FF0000,00FF00,000000,123456," "$(t settings show)"
says "an image that is not there" 1 "ファイルが見つかりません" t settings colours background_image=none.gif
mkdir -p "$home/images" && printf 'GIF89a' >"$home/images/bg.gif"
check "an image in the home selects it" 0 t settings colours background_image=images/bg.gif
expect_same "mode 2" 2 "$(word background_mode)"
check "custom colours" 0 t settings colours custom_colours=$(printf 'ABCDEF,%.0s' $(seq 15))012345
expect_text "words 14 to 29" "$(printf 'ABCDEF,%.0s' $(seq 15))012345" "$(t settings show)"
check "fifteen custom colours" 1 t settings colours custom_colours=$(printf 'ABCDEF,%.0s' $(seq 14))012345
check "back to standard" 0 t settings colours background=標準 link=off
expect_same "mode 0" 0 "$(word background_mode)"
expect_same "no flags" 0 "$(word colour_flags)"

check "the whole sheet" 0 t settings
expect_same "its pages in order" "[サーバー] [配色] [変更許可]" "$(grep '^\[' <<<"$out" | tr '\n' ' ' | sed 's/ $//')"
check "an unknown page" 1 t settings colors

echo "settings pages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
