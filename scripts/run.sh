#!/usr/bin/env bash
# Builds the library, the simulated host and the arm simulator, then runs the main job (kxsim).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
exec build/sim/kxsim "$@"
