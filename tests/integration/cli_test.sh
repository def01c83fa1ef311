#!/usr/bin/env bash
# The administration command line against a fresh home: the cases are in
# cli_test.cases.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
cases "$(dirname "$0")/cli_test.cases"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
