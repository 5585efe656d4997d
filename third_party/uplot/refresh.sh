#!/usr/bin/env bash
# Refreshes the vendored uPlot (the HTML report page's plots) from the npm
# registry: the minified browser build, its stylesheet, its licence and the
# version. The build never fetches anything; run this by hand to update,
# then rebuild and run the page's tests.
#
#   bash third_party/uplot/refresh.sh [VERSION]     (default: the latest)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
version="${1:-$(npm view uplot version)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "uplot@$version" >/dev/null)
tar -xzf "$work"/uplot-*.tgz -C "$work"
cp "$work/package/dist/uPlot.iife.min.js" "$here/uPlot.iife.min.js"
cp "$work/package/dist/uPlot.min.css" "$here/uPlot.min.css"
cp "$work/package/LICENSE" "$here/LICENSE"
echo "$version" >"$here/VERSION"
echo "uPlot $version in $here"
