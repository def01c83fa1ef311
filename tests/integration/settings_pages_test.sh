#!/usr/bin/env bash
# The three basic-settings pages by their controls: the cases are in
# settings_pages_test.cases.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
page_word() { t settings server | sed -n "s/^$1=\([^ ]*\) .*/\1/p"; }
cases "$(dirname "$0")/settings_pages_test.cases"
echo "settings pages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
