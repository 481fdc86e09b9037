#!/usr/bin/env bash
# Takes the README's pictures of the applet's pages and of the diagnosis tool
# (docs/screenshots/) on a
# virtual display, from a sample data root made for the purpose.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHERON_TESTS=ON -DHERON_DESKTOP=ON >/dev/null
cmake --build build --target kestrel_shots skylark_shot heronctl
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HERON_HOME=$home
ctl=build/heronctl/heronctl
$ctl set RelayMessages 1 >/dev/null
$ctl set HostName mail.example.com.tw >/dev/null
$ctl set DNSServer 168.95.1.1 >/dev/null
$ctl add MxRecords "example.org|mx.example.org" >/dev/null
$ctl add Domains example.com.tw >/dev/null
echo 'pw' | $ctl user add amy --full-name "Amy Lin" >/dev/null
echo 'pw' | $ctl user add sales --full-name "業務部" >/dev/null
$ctl add ForwardRules "sales@example.com.tw|amy@example.com.tw" >/dev/null
$ctl add CopyRules "sales|amy" >/dev/null
$ctl add IpFilter "203.0.113.1 203.0.113.50" >/dev/null
$ctl add SafeIp "192.168.1.*" >/dev/null
$ctl add BlockMailFrom "*@spam.example" >/dev/null
$ctl add BlockMailFrom2 "dynamic" >/dev/null
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/kestrel_shots docs/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/skylark_shot docs/screenshots/skylark.png
ls docs/screenshots
