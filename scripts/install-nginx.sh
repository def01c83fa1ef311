#!/usr/bin/env bash
# Installs nginx for the reverse-proxy test and the benchmarks (Debian 12),
# without letting the package start its own server on port 80: the tests
# run nginx from scratch configurations on 127.0.0.1 themselves. Safe to run
# again.
set -euo pipefail
dpkg-query -W -f='${Status}' nginx 2>/dev/null | grep -q 'install ok installed' && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  # invoke-rc.d asks this file whether a package may start its service.
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  made_policy=1
fi
trap '[ -n "$made_policy" ] && $sudo rm -f "$policy"' EXIT
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx
# Where systemd runs, keep the unit from starting at the next boot too.
if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  $sudo systemctl disable --now nginx >/dev/null 2>&1 || true
fi
