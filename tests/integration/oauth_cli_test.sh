#!/usr/bin/env bash
# OAuth providers on the command line: the cases are in oauth_cli_test.cases.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
cases "$(dirname "$0")/oauth_cli_test.cases"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
