#!/usr/bin/env bash
# Debian's Chromium, Japanese and emoji fonts (the screenshots of mail show
# them as a phone would), Node.js and the e2e tests' npm packages.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
# libnss3-tools: certutil, which puts a test authority into the browser profile.
packages=(chromium fonts-ipafont-gothic fonts-noto-color-emoji nodejs npm libnss3-tools openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# A node and npm that came with the machine serve as well as Debian's.
if command -v node >/dev/null && command -v npm >/dev/null; then
  missing=("${missing[@]/nodejs}"); missing=("${missing[@]/npm}")
fi
list=()
for p in "${missing[@]}"; do [ -n "$p" ] && list+=("$p"); done
if [ ${#list[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${list[@]}"
fi
cd "$top/tests/e2e"
if [ ! -d node_modules/playwright-core ]; then
  if [ -f package-lock.json ]; then npm ci --no-audit --no-fund --silent; else npm install --no-audit --no-fund --silent; fi
fi
