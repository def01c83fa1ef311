#!/usr/bin/env bash
# Installs the mail servers that the integration tests run on loopback
# (Debian 12): Dovecot for POP3 (and IMAP, for the benchmark beside an
# IMAP webmail), Postfix for SMTP, poppassd (behind socat)
# for password changes, and the openssl command that makes the test
# certificates for their TLS ports. Safe to run again: nothing happens when all are
# present. The packages start no daemon here, and
# Postfix is left without a system configuration; the tests run their own
# instances from scratch folders.
set -euo pipefail
packages=(dovecot-pop3d dovecot-imapd postfix poppassd socat openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# poppassd comes with an inetd line that would offer it on every interface;
# the tests start it on 127.0.0.1 themselves.
if [[ " ${missing[*]} " == *" poppassd "* ]] && command -v update-inetd >/dev/null; then
  $sudo update-inetd --disable poppassd || true
fi
