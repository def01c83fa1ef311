#!/usr/bin/env bash
# Bulk registration, selection from a file and the shared address book,
# driven through the real binary against a fresh home.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
sjis() { iconv -f UTF-8 -t CP932; }

says "import before init" 1 "tarnbox init" t users import /dev/null
check "init" 0 t init --smtp-server smtp.example.jp --pop3-server pop.example.jp
check "add one user" 0 t users add --name 既存 --mail-address old@example.jp --id old --password p

# --- users import ---------------------------------------------------------
# A UTF-8 file with a byte-order mark, as spreadsheets save it, CR LF ends.
printf '\xEF\xBB\xBF"山田, 太郎",taro@example.jp,taro,secret,mail.example.jp,,ON,off,on\r\n' >"$home/u8.csv"
printf 'Hanako,hanako@example.jp,hanako,pw2\r\n' >>"$home/u8.csv"
printf '再登録,again@example.jp,old,pw\r\n' >>"$home/u8.csv"
printf '鈴木,suzuki@example.jp,suzuki,パスワード\r\n' >>"$home/u8.csv"
printf 'NoAt,noat.example.jp,noat,pw\r\n' >>"$home/u8.csv"
printf 'Last,last@example.jp,last,pw' >>"$home/u8.csv"
says "import utf-8 with refused lines" 1 "$(printf '名前:再登録\nメールアドレス:again@example.jp\nPOP3ユーザー名:old\nはすでに登録済みです。')" t users import "$home/u8.csv"
expect_text "japanese password report" "$(printf '名前:鈴木\nメールアドレス:suzuki@example.jp\nPOP3ユーザー名:suzuki\nは登録できませんでした。')" "$out"
expect_text "no at sign report" "POP3ユーザー名:noat" "$out"
expect_text "count" "3 件のユーザーを登録しました。" "$out"
says "list after import" 0 "$(printf '1\ttaro\t山田, 太郎\ttaro@example.jp')" t users list
expect_text "second" "$(printf '2\thanako\tHanako\thanako@example.jp')" "$out"
expect_text "final line without end" "$(printf '3\tlast\tLast\tlast@example.jp')" "$out"
expect_same "user count" 4 "$(wc -l <<<"$out")"
expect_same "data file size" $((800 + 4 * 4000)) "$(stat -c %s "$home/tarnbox.dat")"

# A Shift_JIS file without a mark, LF ends; the first empty line ends it.
printf '佐藤,sato@example.jp,sato,pw\n\nAfter,after@example.jp,after,pw\n' | sjis >"$home/sjis.csv"
says "import shift_jis" 0 "1 件のユーザーを登録しました。" t users import "$home/sjis.csv"
says "list" 0 "$(printf '4\tsato\t佐藤\tsato@example.jp')" t users list
[ "$(grep -c after <<<"$out")" -eq 0 ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: read past the empty line"; }

printf '\xEF\xBB\xBFEmoji,e@example.jp,e,pw\n😀,x@example.jp,x,pw\n' >"$home/emoji.csv"
before="$(sha256sum "$home/tarnbox.dat")"
says "unconvertible file refused whole" 1 "2 行目" t users import "$home/emoji.csv"
says "missing file" 1 "を開けません" t users import "$home/none.csv"
check "no argument" 1 t users import
[ "$before" = "$(sha256sum "$home/tarnbox.dat")" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused import changed the file"; }

# Filling the table: 5 users now, 100 more lines; the 96th stops the run.
for i in $(seq 1 100); do echo "u$i,u$i@example.jp,u$i,pw"; done >"$home/many.csv"
says "import up to the limit" 1 "これ以上の登録はできません。" t users import "$home/many.csv"
expect_text "count up to the limit" "95 件のユーザーを登録しました。" "$out"
check "list full" 0 t users list
expect_same "100 users" 100 "$(wc -l <<<"$out")"
echo "Z,z@example.jp,z,pw" >"$home/one.csv"
says "import into a full table" 1 "これ以上の登録はできません。" t users import "$home/one.csv"

# --- users select ---------------------------------------------------------
# A CSV file names users by its third column, whatever the first says.
printf 'x,y,TARO\nx,y,nobody\nx,y,U7\n' >"$home/pick.csv"
check "select by csv column 3" 0 t users select "$home/pick.csv"
expect_same "csv selection" "$(printf 'taro\nu7')" "$out"
# A text file by whole lines: a name first, else mail address or user name.
printf 'hanako\r\nLAST@EXAMPLE.JP\n佐藤\n\nu9\n' | sjis >"$home/pick.txt"
check "select by lines" 0 t users select "$home/pick.txt"
expect_same "line selection in table order" "$(printf 'hanako\nlast\nsato\nu9')" "$out"
check "select: missing file" 1 t users select "$home/none.txt"

# --- shared-book ----------------------------------------------------------
check "empty book" 0 t shared-book list
expect_same "nothing listed" "" "$out"
says "add without address" 1 "メールアドレスを入力してください" t shared-book add --name A
says "add invalid address" 1 "メールアドレスを入力してください" t shared-book add --name A --mail-address t@host
[ ! -e "$home/user/common.adb" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: refused add wrote the book"; }
check "add name with comma" 1 t shared-book add --name "A,B" --mail-address a@b.jp
check "add zed" 0 t shared-book add --name Zed --mail-address a@b.jp
check "add al" 0 t shared-book add --name Al --mail-address z@b.jp
check "add japanese" 0 t shared-book add --name 鈴木 --mail-address s@b.jp
check "add without name" 0 t shared-book add --mail-address n@b.jp
expect_same "file text" "$(printf 'Zed<a@b.jp>,Al<z@b.jp>,鈴木<s@b.jp>,<n@b.jp>' | sjis)" "$(cat "$home/user/common.adb")"
check "list" 0 t shared-book list
expect_same "listing" "$(printf '1\tZed\t<a@b.jp>\n2\tAl\t<z@b.jp>\n3\t鈴木\t<s@b.jp>\n4\t\t<n@b.jp>')" "$out"
check "up first refused" 1 t shared-book up 1
check "down last refused" 1 t shared-book down 4
says "no such entry" 1 "5 番の項目はありません" t shared-book delete 5
check "up 2" 0 t shared-book up 2
check "down 3" 0 t shared-book down 3
expect_same "after moves" "$(printf 'Al<z@b.jp>,Zed<a@b.jp>,<n@b.jp>,鈴木<s@b.jp>' | sjis)" "$(cat "$home/user/common.adb")"
check "sort by address" 0 t shared-book sort address
expect_same "address order" "$(printf 'Zed<a@b.jp>,<n@b.jp>,鈴木<s@b.jp>,Al<z@b.jp>' | sjis)" "$(cat "$home/user/common.adb")"
check "sort by name" 0 t shared-book sort name
says "list sorted" 0 "$(printf '1\t\t<n@b.jp>')" t shared-book list
expect_text "al before zed" "$(printf '2\tAl\t<z@b.jp>\n3\tZed\t<a@b.jp>')" "$out"
check "bad sort column" 1 t shared-book sort mail

# A hand-written file with line breaks and blanks is read and rewritten.
printf 'A<a@b.c>,\r\nB <b@b.c>' >"$home/user/common.adb"
check "list hand-written" 0 t shared-book list
expect_same "hand-written rows" "$(printf '1\tA\t<a@b.c>\n2\tB\t<b@b.c>')" "$out"
check "delete 1" 0 t shared-book delete 1
expect_same "rewritten" "B<b@b.c>" "$(cat "$home/user/common.adb")"
check "delete last" 0 t shared-book delete 1
[ ! -e "$home/user/common.adb" ] && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: empty book not deleted"; }
ls "$home/user" | grep -q '\.new$' && { failed=$((failed + 1)); echo "FAIL: temporary file left"; } || passed=$((passed + 1))

# --- the list sorted by a column ---------------------------------------------
check "sorted by id" 0 t users list --sort id
expect_same "ids in order" "$(cut -f2 <<<"$out" | LC_ALL=C.UTF-8 sort)" "$(cut -f2 <<<"$out")"
check "unknown column" 1 t users list --sort age

# --- change and delete -------------------------------------------------------
check "change the name" 0 t users change old --name 新しい名前 --mail-address new@example.jp
says "list" 0 "$(printf 'old\t新しい名前\tnew@example.jp')" t users list
says "change an unknown user" 1 "設定変更ができません。" t users change nobody --name x
says "empty name refused" 1 "名前を入力してください。" t users change old --name ""
says "delete without a terminal or --yes" 1 "--yes" t users delete old </dev/null
says "delete" 0 "1 件のユーザーを削除しました。" t users delete --yes old
check "deleted" 0 t users list
expect_same "old is gone" "" "$(grep -P '^\d+\told\t' <<<"$out")"
says "delete an unknown user" 1 "そのユーザーは登録されていません。" t users delete --yes old

# --- ports by service name, and the addresses to give to users -------------
check "ports by name" 0 t settings set http_port=HTTP smtp_port=smtp pop3_port=pop3s
says "settings show" 0 "http_port=80" t settings show
expect_text "pop3s from the services database" "pop3_port=995" "$out"
says "unknown service" 1 "POP3ポートの名称が正しくありません。" t settings set pop3_port=no-such-service
says "port 80 unchanged by the refusal" 0 "http_port=80" t settings show
check "addresses" 0 t settings addresses
expect_same "by name, port 80 left out" "http://$(hostname)" "$(head -n 1 <<<"$out")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
