#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each one for a bounded time, starting from its seed corpus in fuzz/corpus/<harness>/ (read
# only: new inputs go to a scratch folder). A finding stops that harness; its input is kept in
# build-fuzz/findings/ and the script fails.
#
#   scripts/fuzz.sh [seconds per harness]      (default 30, or KXMC_FUZZ_SECONDS)
#   scripts/fuzz.sh --runs N [harness...]      N executions per harness instead of a time
#
# KXMC_FUZZ_MAX_LEN bounds the input length (default 4096); long runs use 1024, where the
# operation and cycle budgets of an input are reached already.
# KXMC_FUZZ_TIMEOUT is the wall time [s] after which an execution counts as a hang (default
# 10); on a machine shared with other work a low-priority run needs more.
# KXMC_FUZZ_KEEP=<folder> keeps the inputs a run adds in <folder>/<harness>/ (a long run's
# corpus, from which the seeds are refreshed); a later run with the same folder continues it.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time="${KXMC_FUZZ_SECONDS:-30}")
if [ "${1:-}" = "--runs" ]; then
  limit=(-runs="$2")
  shift 2
elif [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  limit=(-max_total_time="$1")
  shift
fi

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKXMC_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DKXMC_BUILD_TESTS=OFF -DKXMC_BUILD_BENCHMARK=OFF -DKXMC_BUILD_SIM=OFF >/dev/null
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for src in fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    [ "$name" = fuzz_host ] || harnesses+=("$name")
  done
fi
cmake --build build-fuzz -j "$(nproc)" --target "${harnesses[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work="${KXMC_FUZZ_KEEP:-$scratch}"
mkdir -p build-fuzz/findings
passed=0
failed=0
for name in "${harnesses[@]}"; do
  mkdir -p "$work/$name" "fuzz/corpus/$name"
  start=$(date +%s)
  if ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
     /usr/bin/time -f 'cpu %U s user %S s system' -o "$scratch/$name.cpu" \
     "build-fuzz/fuzz/$name" "${limit[@]}" -timeout="${KXMC_FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -max_len="${KXMC_FUZZ_MAX_LEN:-4096}" \
       -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$name-" \
       "$work/$name" "fuzz/corpus/$name" >"$scratch/$name.log" 2>&1; then
    passed=$((passed + 1))
    runs=$(grep -m1 'stat::number_of_executed_units' "$scratch/$name.log" | awk '{print $2}')
    echo "$name: ${runs:-?} executions in $(( $(date +%s) - start )) s wall," \
      "$(cat "$scratch/$name.cpu"), no finding"
  else
    failed=$((failed + 1))
    echo "$name: FINDING (input kept in build-fuzz/findings/)"
    cp "$scratch/$name.log" "build-fuzz/findings/$name.log"
    grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$scratch/$name.log" | head -20 || true
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
