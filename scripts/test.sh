#!/usr/bin/env bash
# Installs what the build and the tests need, gives the benchmark a smoke
# run, builds everything with AddressSanitizer and UBSan, gives each fuzz
# target a short run, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
jobs=$(nproc)

# Benchmark smoke run: osprey alone, small loads (bench/README.md).
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHERON_SANITIZE=ON >/dev/null
cmake --build build-test -j "$jobs" --target osprey heronctl bench_tools
bash bench/run.sh --quick --osprey build-test/service/osprey

# Fuzz targets: built with clang's libFuzzer, each run briefly on its seeds.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DHERON_FUZZ=ON -DHERON_TESTS=OFF -DHERON_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_targets
for target in build-fuzz/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  "$target" -max_total_time="${FUZZ_SECONDS:-10}" -print_final_stats=0 -seed="${FUZZ_SEED:-1}" "$corpus" fuzz/seeds/"${name#fuzz_}" \
    >"build-fuzz/$name.log" 2>&1 || { cat "build-fuzz/$name.log"; exit 1; }
  rm -rf "$corpus"
  echo "fuzz: $name ok"
done

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHERON_SANITIZE=ON >/dev/null
cmake --build build-test -j "$jobs"
cd build-test
ctest --output-on-failure -j 1
