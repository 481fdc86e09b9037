#!/usr/bin/env bash
# Installs the Debian packages Heron needs. With --test, also what the tests
# and fuzz targets need. Run as root (or through sudo).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libasio-dev libsqlite3-dev sqlite3)
if [[ "${1:-}" == "--test" ]]; then
  # dnsmasq-base is the server alone, without the system service that the
  # dnsmasq package would start; the DNS tests run their own on loopback.
  packages+=(googletest libgtest-dev python3 clang libclang-rt-dev curl dnsmasq-base iproute2)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
