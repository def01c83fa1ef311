#!/usr/bin/env bash
# Bulk registration, selection from a file and the shared address book: the
# cases are in admin_test.cases.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
sjis() { iconv -f UTF-8 -t CP932; }
cases "$(dirname "$0")/admin_test.cases"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
