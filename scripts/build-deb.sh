#!/usr/bin/env bash
# Builds the Debian package heron_<version>_<arch>.deb into build-deb/
# (Release, installed under /usr). Run as root on Debian, or with the build
# dependencies installed.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $(id -u) == 0 ]]; then bash scripts/install-deps.sh --deb; fi
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DHERON_TESTS=OFF >/dev/null
cmake --build build-deb -j "$(nproc)" --target osprey heronctl kestrel kestrel_program skylark
(cd build-deb && cpack -G DEB >/dev/null)
ls build-deb/heron_*.deb
