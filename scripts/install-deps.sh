#!/usr/bin/env bash
# Installs what building and testing Tarnbox needs on Debian 12. Safe to run
# again: packages already present are left alone.
set -euo pipefail
# libgumbo-dev: the fuzz target of the HTML cleaner reads its output with an
# HTML5 parser.
packages=(build-essential cmake g++ clang python3 libclang-rt-14-dev libgtest-dev libgmock-dev
          libssl-dev libcurl4-openssl-dev nlohmann-json3-dev libgumbo-dev pkg-config locales tzdata
          systemd util-linux)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
