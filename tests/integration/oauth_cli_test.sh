#!/usr/bin/env bash
# OAuth providers on the command line: cases in oauth_cli_test.cases.
. "$(dirname "$0")/checks.sh"
run_table "$@"
