#!/usr/bin/env bash
# Builds everything and runs every test: static analysis of the library and the simulated host
# (clang-tidy and cppcheck, any finding fails), the normal build (warnings as errors), the
# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test suite, the 32-bit x86
# build of the library, simulated host and tests (the target controller's word size and
# alignment; the simulator stays 64-bit), and a short run of every fuzz harness from its seed corpus (30 s each; KXMC_FUZZ_SECONDS changes it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
jobs=$(nproc)
# A compiler cache, where the machine has one, makes a rebuild from a fresh clone cheap.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD"
fi

bash scripts/static-analysis.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKXMC_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKXMC_WERROR=ON -DKXMC_SANITIZE=ON \
  -DKXMC_BUILD_BENCHMARK=OFF -DKXMC_BUILD_SIM=ON
cmake --build build-sanitize -j "$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKXMC_WERROR=ON -DKXMC_BUILD_BENCHMARK=OFF -DKXMC_BUILD_SIM=OFF
cmake --build build-m32 -j "$jobs"
(cd build-m32 && ctest --output-on-failure -j "$jobs")

bash scripts/fuzz.sh
