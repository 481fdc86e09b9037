#!/usr/bin/env bash
# Installs what osprey needs, builds it, and runs the mail service in the
# console mode on a data root in ./heron-home (override with HERON_HOME).
# Ports default to 2525 (SMTP) and 2110 (POP3) so no root is needed; set
# SMTP_PORT and POP3_PORT to choose others. Ctrl+C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHERON_TESTS=OFF -DHERON_DESKTOP=OFF >/dev/null
cmake --build build --target osprey heronctl
export HERON_HOME=${HERON_HOME:-$PWD/heron-home}
build/heronctl/heronctl set SmtpPort "${SMTP_PORT:-2525}"
build/heronctl/heronctl set Port "${POP3_PORT:-2110}"
echo "HERON_HOME=$HERON_HOME; trace log: build/heronctl/heronctl log"
if build/heronctl/heronctl user list | grep -q 'no password'; then
  echo "The admin account has no password and cannot log in yet; in another shell:"
  echo "  HERON_HOME=$HERON_HOME build/heronctl/heronctl user passwd admin"
fi
exec build/service/osprey -d
