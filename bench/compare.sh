#!/usr/bin/env bash
# Whole-model comparison of the M/M/1 model: builds the C++ program, runs it
# and the SimPy script, and prints the ratio of their rates (customers per
# second). Rates are compared, so SimPy may run fewer customers.
#
# Usage: bench/compare.sh [N_CPP [N_SIMPY]]   (defaults 1000000 and 200000)
# Environment: BUILD_DIR (default <repo>/build-bench), JOBS (default 2).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-bench}"
JOBS="${JOBS:-2}"
N_CPP="${1:-1000000}"
N_SIMPY="${2:-200000}"
PYTHON=/usr/bin/python3

if ! dpkg-query -W -f='${Status}' python3-simpy3 2>/dev/null | grep -q "install ok installed"; then
  echo "python3-simpy3 is missing; installing it with apt-get" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  if ! $SUDO apt-get install -y python3-simpy3; then
    $SUDO apt-get update
    $SUDO apt-get install -y python3-simpy3
  fi
fi

cmake -S "$ROOT" -B "$BUILD_DIR" -DQUORIN_BUILD_BENCH=ON -DQUORIN_BUILD_TESTS=OFF \
  -DQUORIN_BUILD_EXAMPLES=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target mm1_compare >/dev/null

CPP_OUT="$("$BUILD_DIR/bench/mm1_compare" "$N_CPP")"
echo "$CPP_OUT" | grep -v '^RATE '
PY_OUT="$("$PYTHON" "$HERE/mm1_simpy.py" "$N_SIMPY")"
echo "$PY_OUT" | grep -v '^RATE '

rate() { echo "$1" | awk -v who="$2" '$1 == "RATE" && $2 == who { print $3 }'; }
SIMPY="$(rate "$PY_OUT" simpy)"
QUORIN="$(rate "$CPP_OUT" quorin)"
HAND="$(rate "$CPP_OUT" handloop)"

awk -v a="$QUORIN" -v b="$SIMPY" 'BEGIN { printf "ratio Quorin/SimPy (customers per second): %.2f\n", a / b }'
awk -v a="$QUORIN" -v b="$HAND" 'BEGIN { printf "ratio Quorin/hand loop (customers per second): %.4f\n", a / b }'
awk -v a="$HAND" -v b="$SIMPY" 'BEGIN { printf "ratio hand loop/SimPy (customers per second): %.2f\n", a / b }'
