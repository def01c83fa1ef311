#!/usr/bin/env bash
# Bulk registration, selection from a file and the shared address book: cases in
# admin_test.cases.
. "$(dirname "$0")/checks.sh"
sjis() { iconv -f UTF-8 -t CP932; }
run_table "$@"
