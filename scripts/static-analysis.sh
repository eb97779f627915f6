#!/usr/bin/env bash
# Static analysis of the library (collision, dynamics, forcesensor, host, include, jointid,
# numerics, payload) and the simulated host (simhost): clang-tidy with the checks in .clang-tidy
# and cppcheck. Fails on any finding; a suppression in the code names its check and its reason.
#
#   scripts/static-analysis.sh            # both
#   scripts/static-analysis.sh tidy       # clang-tidy only
#   scripts/static-analysis.sh cppcheck   # cppcheck only
#
# clang-tidy reads the compile commands of a configure-only CMake tree (build-tidy, or
# KXMC_TIDY_BUILD); nothing is compiled.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
what=${1:-all}
jobs=$(nproc)
build=${KXMC_TIDY_BUILD:-build-tidy}
sources='collision|dynamics|forcesensor|jointid|numerics|payload|simhost'
folders=(collision dynamics forcesensor host include jointid numerics payload simhost)
status=0

if [ "$what" = all ] || [ "$what" = tidy ]; then
  cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DKXMC_BUILD_TESTS=OFF \
    -DKXMC_BUILD_BENCHMARK=OFF -DKXMC_BUILD_SIM=OFF >/dev/null
  log="$build/clang-tidy.log"
  start=$SECONDS
  # The files of the folders above, once each (the model tables are compiled twice).
  if ! run-clang-tidy-14 -p "$build" -j "$jobs" -quiet "^$root/($sources)/[^/]*\.cpp\$" \
      >"$log" 2>&1 || grep -qE '(warning|error): ' "$log"; then
    grep -E '(warning|error): ' "$log" | sed "s|$root/||" | sort -u || tail -20 "$log"
    echo "clang-tidy: findings (full output in $log)"
    status=1
  else
    echo "clang-tidy: clean ($((SECONDS - start)) s)"
  fi
fi

if [ "$what" = all ] || [ "$what" = cppcheck ]; then
  start=$SECONDS
  if ! cppcheck --enable=warning,performance,portability --std=c++17 --language=c++ \
      --inline-suppr --error-exitcode=1 --suppress=missingIncludeSystem -q -j "$jobs" \
      -I include -I host -I . "${folders[@]}"; then
    echo "cppcheck: findings"
    status=1
  else
    echo "cppcheck: clean ($((SECONDS - start)) s)"
  fi
fi
exit $status
