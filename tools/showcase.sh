#!/usr/bin/env bash
# Runs the showcase models of a build folder (default: build).
set -euo pipefail
build=${1:-build}
if [ -x "$build/examples/showcase" ]; then
  "$build/examples/showcase"
else
  echo "Quorin built in $build; the showcase model is not there yet."
fi
