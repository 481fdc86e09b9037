#!/usr/bin/env bash
# Takes the README's pictures of the applet's pages (docs/screenshots/) on a
# virtual display, from a sample data root made for the purpose.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHERON_TESTS=ON -DHERON_DESKTOP=ON >/dev/null
cmake --build build --target kestrel_shots heronctl
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HERON_HOME=$home
ctl=build/heronctl/heronctl
$ctl set RelayMessages 1 >/dev/null
$ctl set HostName mail.example.com.tw >/dev/null
$ctl set DNSServer 168.95.1.1 >/dev/null
$ctl add MxRecords "example.org|mx.example.org" >/dev/null
$ctl add Domains example.com.tw >/dev/null
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/kestrel_shots docs/screenshots
ls docs/screenshots
