#!/usr/bin/env bash
# Installs, from Debian's packages, what building Quorin needs; with --test,
# also what its tests and benchmarks need. Idempotent: packages already
# present are left alone, and nothing is fetched from elsewhere.
#
#   bash tools/setup.sh          compiler, CMake, CLI11 and Boost.Math: the showcase and `quorin`
#   bash tools/setup.sh --test   and GoogleTest, GoogleMock, Google Benchmark,
#                                Open MPI and gnuplot (the experiment runner's tests)
set -euo pipefail
packages=(cmake g++ make libcli11-dev libboost-math-dev)
if [ "${1:-}" = "--test" ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev libopenmpi-dev openmpi-bin gnuplot-nox)
elif [ -n "${1:-}" ]; then
  echo "usage: bash tools/setup.sh [--test]" >&2
  exit 2
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
