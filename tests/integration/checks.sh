# The checks the command-line tests share: sourced, not run. Each check adds
# to passed or failed and explains a failure on one line.
passed=0
failed=0

check() { # description, expected status, command... ; leaves the output in $out
  local what="$1" want="$2"
  shift 2
  out="$("$@" 2>&1)"
  local got=$?
  if [ "$got" -eq "$want" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: $what (status $got, wanted $want): $out"; fi
}
expect_text() { # description, needle, haystack
  if grep -qF -- "$2" <<<"$3"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: $1: '$2' not in: $3"; fi
}
expect_same() { # description, wanted, got
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: $1: wanted [$2], got [$3]"; fi
}

# A new empty home for the test, removed when it ends; t runs the binary on it.
fresh_home() {
  home="$(mktemp -d)"
  trap 'rm -rf "$home"' EXIT
}
t() { "$bin" --home "$home" "$@"; }
says() { # description, expected status, text the output holds, command...
  local what="$1" want="$2" text="$3"
  shift 3
  check "$what" "$want" "$@"
  expect_text "$what" "$text" "$out"
}
fed() { # input text (printf %b), command... : the command reading the text, never a terminal
  local input="$1"
  shift
  printf '%b' "$input" | "$@"
}
