#!/usr/bin/env bash
# Installs, from Debian's packages, what building Quorin needs; with --test,
# also what its tests and benchmarks need. Idempotent: packages already
# present are left alone, and nothing is fetched from elsewhere.
#
#   bash tools/setup.sh          compiler, CMake, CLI11, Boost.Math, cpp-httplib and nlohmann-json:
#                                the showcase and `quorin` (with its studio)
#   bash tools/setup.sh --test   and GoogleTest, GoogleMock, Google Benchmark,
#                                Open MPI and gnuplot (the experiment runner's tests),
#                                for the Python module (built for Debian's
#                                /usr/bin/python3) pybind11, numpy, pandas, pytest,
#                                venv, pip, setuptools, wheel, matplotlib (the README's
#                                example plots), SimPy (its benchmark) and nbclient,
#                                nbformat, ipykernel (the example notebook),
#                                and headless Chromium with Python's WebSocket client
#                                (the report page's browser test)
set -euo pipefail
packages=(cmake g++ make pkg-config libcli11-dev libboost-math-dev libcpp-httplib-dev nlohmann-json3-dev)
if [ "${1:-}" = "--test" ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev libopenmpi-dev openmpi-bin gnuplot-nox)
  packages+=(python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pandas python3-pytest
             python3-venv python3-pip python3-setuptools python3-wheel python3-matplotlib
             python3-simpy3)
  # The example notebook, executed headless by the module's tests.
  packages+=(python3-nbclient python3-nbformat python3-ipykernel)
  packages+=(chromium-headless-shell python3-websocket)
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
