#!/usr/bin/env bash
# The administrator password and its gate: the cases are in
# admin_password_test.cases.
set -u
bin="$1"
. "$(dirname "$0")/checks.sh"
fresh_home
cases "$(dirname "$0")/admin_password_test.cases"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
