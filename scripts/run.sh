#!/usr/bin/env bash
# Builds the library, the simulated host and the tools, then runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/sim/kxsim ]; then
  exec build/sim/kxsim "$@"
else
  exec build/tools/kxdemo "$@"
fi
