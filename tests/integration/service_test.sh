#!/usr/bin/env bash
# Registering the gateway as a systemd service: the cases are in
# service_test.cases.
set -u
bin="$(realpath "$1")"
. "$(dirname "$0")/checks.sh"
fresh_home
trap "rm -rf '$home'" EXIT
home="$home/web mail"
unit="$home/units/tarnbox.service"
mkdir -p "$home/units"
cases "$(dirname "$0")/service_test.cases"
if [ ! -d /run/systemd/system ]; then
  says "start without systemd" 1 "systemd" t service start
  check "status without systemd" 1 t service status
fi
echo "service_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
