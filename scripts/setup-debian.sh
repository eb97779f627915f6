#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the simulator need, when missing.
set -euo pipefail
packages=(build-essential cmake g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          liborocos-kdl-dev libeigen3-dev libcli11-dev libmujoco-dev binutils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
