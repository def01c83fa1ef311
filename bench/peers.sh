#!/usr/bin/env bash
# Tarnbox over POP3 beside Roundcube over IMAP, on one Dovecot and the same
# Maildirs, in one run; plus the bare POP3 floors (sequential and pipelined).
#
#   bash bench/peers.sh [/path/to/tarnbox]      (default: build-bench/tarnbox)
#   bash bench/run.sh peers                      (builds the release binary first)
#
# Installs what is missing from Debian (Roundcube with SQLite, php-fpm, nginx,
# Dovecot IMAP, Chromium and playwright-core) without letting any package
# start a service. Everything else lives in a scratch folder: Roundcube's
# configuration (pointed to through the php-fpm pool's environment), its
# SQLite database, a php-fpm pool and an nginx master, all on 127.0.0.1 on
# free ports, started by PID and stopped at the end or on Ctrl-C. Nothing
# under /etc is written.
#
# Prints, per mailbox size, the medians of the list cold and warm, one
# message opened, and login-to-rows in headless Chromium for both sides,
# with the ratios. Not a test: slowness never changes the exit status.
# PEERS_SIZES (default "1000 10000"), PEERS_REPEAT (default 5),
# PEERS_BROWSER=0 (skips Chromium), PEERS_BROWSER_TIMEOUT (seconds a page may take
# to show its rows, default 300), PEERS_KEEP=1 (keeps the scratch folder).
set -uo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-$top/build-bench/tarnbox}"
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
if [ ! -x "$bin" ]; then
  echo "no gateway binary at $bin (build it, or: bash bench/run.sh peers)" >&2
  exit 2
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
bash "$top/scripts/install-mail-servers.sh" || exit 1
bash "$top/scripts/install-nginx.sh" || exit 1
[ "${PEERS_BROWSER:-1}" = 0 ] || bash "$top/scripts/install-browser.sh" || exit 1
# php-fpm goes in before Roundcube so that its PHP dependency is met by the
# FPM server rather than Apache's module.
missing=()
for p in php-fpm php-sqlite3 dovecot-imapd roundcube roundcube-sqlite3; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  policy=/usr/sbin/policy-rc.d
  made_policy=""
  if [ ! -e "$policy" ]; then
    # invoke-rc.d asks this file whether a package may start its service.
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    made_policy=1
  fi
  # The bench brings its own SQLite database; the package needs none.
  echo "roundcube-core roundcube/dbconfig-install boolean false" | $sudo debconf-set-selections
  $sudo apt-get update -qq
  for group in "php-fpm php-sqlite3 dovecot-imapd" "roundcube roundcube-sqlite3"; do
    want=()
    for p in $group; do [[ " ${missing[*]} " == *" $p "* ]] && want+=("$p"); done
    [ ${#want[@]} -eq 0 ] && continue
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${want[@]}" \
      || { [ -n "$made_policy" ] && $sudo rm -f "$policy"; exit 1; }
  done
  [ -n "$made_policy" ] && $sudo rm -f "$policy"
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    for unit in php8.2-fpm dovecot; do $sudo systemctl disable --now "$unit" >/dev/null 2>&1 || true; done
  fi
fi
# exec: Ctrl-C and TERM reach the Python side, which stops what it started.
exec python3 "$top/bench/peers.py" "$bin"
