#!/usr/bin/env bash
# The three basic-settings pages by their controls: cases in settings_pages_test.cases.
. "$(dirname "$0")/checks.sh"
page_word() { t settings server | sed -n "s/^$1=\([^ ]*\) .*/\1/p"; }
run_table "$@"
