#!/usr/bin/env bash
# The administrator password and its gate: cases in admin_password_test.cases.
. "$(dirname "$0")/checks.sh"
run_table "$@"
