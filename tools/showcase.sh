#!/usr/bin/env bash
# Runs the showcase models of a build folder (default: build).
set -euo pipefail
"${1:-build}/examples/showcase" "${@:2}"
