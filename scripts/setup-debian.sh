#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the simulator need, when missing.
set -euo pipefail
packages=(build-essential cmake g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          liborocos-kdl-dev libeigen3-dev libcli11-dev libmujoco-dev binutils
          clang-14 libclang-rt-14-dev)
# Static analysis (scripts/static-analysis.sh).
packages+=(clang-tidy-14 cppcheck)
# The 32-bit x86 build of the library, the simulated host and the tests (the simulator is not
# part of it): the multilib compilers and the :i386 libraries the tests link.
packages+=(gcc-multilib g++-multilib liborocos-kdl-dev:i386 libgtest-dev:i386 libgmock-dev:i386)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -qq
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-remove "${missing[@]}"
fi
