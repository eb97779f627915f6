#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (warnings as errors) and the
# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKXMC_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKXMC_WERROR=ON -DKXMC_SANITIZE=ON \
  -DKXMC_BUILD_BENCHMARK=OFF -DKXMC_BUILD_SIM=ON
cmake --build build-sanitize -j "$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")
