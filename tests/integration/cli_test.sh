#!/usr/bin/env bash
# The administration command line against a fresh home: cases in cli_test.cases.
. "$(dirname "$0")/checks.sh"
run_table "$@"
