#!/usr/bin/env bash
# Installs the Debian packages the mail service needs. With --desktop, also
# what the desktop programs need; with --test, what all programs, the tests
# and fuzz targets need; with --deb, what building the Debian package needs;
# with --peers, the mail servers the benchmark compares with. Run as root (or through sudo). Mail servers installed here
# are never started by the install: the tests and the benchmark run their
# own instances, on loopback, from folders of their own.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libasio-dev libsqlite3-dev sqlite3 libssl-dev)
# The desktop programs: Qt 6, its Traditional Chinese texts, a CJK font.
desktop=(qt6-base-dev qt6-translations-l10n fonts-wqy-microhei)
daemons=()
for arg in "$@"; do
  case "$arg" in
    --test)
      # dnsmasq-base is the server alone, without the system service that the
      # dnsmasq package would start; the DNS tests run their own on loopback.
      packages+=(googletest libgtest-dev python3 clang libclang-rt-dev curl dnsmasq-base iproute2)
      daemons+=(postfix)  # the relay tests' remote exchanger
      # Real TLS clients (swaks needs Net::SSLeay for --tls).
      packages+=(openssl swaks libnet-ssleay-perl fetchmail)
      # The package test builds the package and checks the unit.
      packages+=(dpkg-dev file systemd)
      # The desktop programs, and their end-to-end tests on a virtual display
      # driven through the accessibility interface.
      packages+=("${desktop[@]}" xvfb xauth dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0)
      ;;
    --deb) packages+=(dpkg-dev file "${desktop[@]}") ;;
    --desktop) packages+=("${desktop[@]}") ;;
    --peers) daemons+=(postfix dovecot-pop3d) ;;
    *) echo "usage: install-deps.sh [--test] [--deb] [--desktop] [--peers]" >&2; exit 2 ;;
  esac
done

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "$@" || {
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "$@"
  }
}

mapfile -t missing < <(missing_of "${packages[@]}")
((${#missing[@]} == 0)) || apt_install "${missing[@]}"

mapfile -t missing < <(missing_of "${daemons[@]}")
if ((${#missing[@]})); then
  # A policy that forbids starting daemons, for the install's length, unless
  # the machine has its own; whatever starts anyway is stopped again.
  own_policy=0
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 0755 /usr/sbin/policy-rc.d
    own_policy=1
  fi
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  echo "postfix postfix/mailname string localhost" | debconf-set-selections
  apt_install "${missing[@]}" >/dev/null
  if ((own_policy)); then rm -f /usr/sbin/policy-rc.d; fi
  if [[ " ${missing[*]} " == *" postfix "* && -s /var/spool/postfix/pid/master.pid ]]; then
    postfix stop >/dev/null 2>&1 || true
  fi
  if [[ " ${missing[*]} " == *" dovecot-pop3d "* && -s /run/dovecot/master.pid ]]; then
    kill "$(cat /run/dovecot/master.pid)" 2>/dev/null || true
  fi
fi
