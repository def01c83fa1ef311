# Runs the command-line test table $2 (<name>_test.cases) on the binary $1.
# Each check adds to passed or failed and explains a failure on one line.
passed=0
failed=0

verdict() { # status of the check (0: it holds), what a failure says
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $2"; fi
}
check() { # description, expected status, command... ; leaves the output in $out
  local what="$1" want="$2"
  shift 2
  out="$("$@" 2>&1)"
  local got=$?
  [ "$got" -eq "$want" ]; verdict $? "$what (status $got, wanted $want): $out"
}
expect_text() { # description, needle (never empty), haystack
  [ -n "$2" ] && grep -qF -- "$2" <<<"$3"; verdict $? "$1: '$2' not in: $3"
}
expect_same() { # description, wanted, got
  [ "$2" = "$3" ]; verdict $? "$1: wanted [$2], got [$3]"
}

t() { "$bin" --home "$home" "$@"; }
sjis() { iconv -f UTF-8 -t CP932; }
page_word() { t settings server | sed -n "s/^$1=\([^ ]*\) .*/\1/p"; }

# Runs the case table $1, kept beside the test in the format of the unit
# tests' tables (tests/unit/server/server_cases.h): one record a line, fields
# apart by tabs, \\ \t \n \r \xHH escapes, \e an empty field, "#" lines and
# blank lines skipped. A record is a kind, a description and its values;
# $home and $bin in a value are the test's home and binary. Commands read
# nothing: without a terminal they cannot ask.
#   run     status  command...        the command ends with status
#   says    status  text  command...  ... and its output holds text
#   fed     status  text  input  command...  like says, reading input (text
#                                     \e: any output)
#   text    text                      the last output holds text
#   same    text                      the last output is text
#   no      text                      the last output does not hold text
#   lines   count                     the last output has count lines
#   word    value  field              `settings show` gives field=value
#   keep                              the data file from here on ...
#   kept                              ... is the same as it was
#   changed                           ... is not the same any more
#   sh      code                      the shell code succeeds (taken as it is)
cases() {
  local f v x what before=""
  while IFS=$'\t' read -r -a f <&3; do
    [ "${#f[@]}" -eq 0 ] || [ "${f[0]:0:1}" = "#" ] && continue
    what="${f[1]:-}"
    v=()
    for x in "${f[@]:2}"; do
      [ "$x" = '\e' ] && x=""
      x="${x//\$home/$home}"
      printf -v x '%b' "${x//\$bin/$bin}"
      v+=("$x")
    done
    case "${f[0]}" in
      run) check "$what" "${v[0]}" "${v[@]:1}" </dev/null ;;
      says) check "$what" "${v[0]}" "${v[@]:2}" </dev/null
        expect_text "$what" "${v[1]}" "$out" ;;
      fed) check "$what" "${v[0]}" "${v[@]:3}" < <(printf '%b' "${v[2]}")
        [ -z "${v[1]}" ] || expect_text "$what" "${v[1]}" "$out" ;;
      text) expect_text "$what" "${v[0]}" "$out" ;;
      same) expect_same "$what" "${v[0]}" "$out" ;;
      no) expect_same "$what: not in the output" "" "$(grep -F -- "${v[0]}" <<<"$out")" ;;
      lines) expect_same "$what" "${v[0]}" "$(wc -l <<<"$out")" ;;
      word) expect_same "$what" "${v[0]}" "$(t settings show | sed -n "s/^${v[1]}=//p")" ;;
      keep) before="$(sha256sum "$home/tarnbox.dat")" ;;
      kept) expect_same "$what: data file unchanged" "$before" "$(sha256sum "$home/tarnbox.dat")" ;;
      changed) [ "$before" != "$(sha256sum "$home/tarnbox.dat")" ]; verdict $? "$what: data file unchanged" ;;
      sh) eval "${f[2]}"; verdict $? "$what" ;;
      *) verdict 1 "unknown kind in $1: ${f[*]}" ;;
    esac
  done 3<"$1"
}

set -u
bin="$(realpath "$1")"
home="$(mktemp -d)"
trap "rm -rf '$home'" EXIT
cases "$2"
echo "$(basename "$2" .cases): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
