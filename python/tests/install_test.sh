#!/usr/bin/env bash
# pip installs the module from the checkout into a virtual environment made
# from Debian's interpreter with --system-site-packages, reusing this build
# tree's module, and the installed module runs a model from elsewhere; the
# checkout is left as it was.
#   install_test.sh SOURCE_DIR BUILD_DIR INTERPRETER WORK_DIR
set -euo pipefail
source_dir=$1 build_dir=$2 python=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
"$python" -m venv --system-site-packages "$work/venv"
cd "$work"
# Nothing is written into the checkout (what an earlier install left there
# is no concern of this one).
before=$(ls -a "$source_dir")
QUORIN_BUILD_DIR="$build_dir" QUORIN_PIP_BUILD_DIR="$work/pip-build" "$work/venv/bin/pip" install \
  --quiet --no-index --no-build-isolation "$source_dir"
after=$(ls -a "$source_dir")
if [ "$before" != "$after" ]; then
  echo "the install wrote into the checkout:" >&2
  diff <(echo "$before") <(echo "$after") >&2
  exit 1
fi
"$work/venv/bin/python" - "$source_dir/examples/mm1.qm" <<'PY'
import pathlib
import sys

import quorin

assert pathlib.Path(quorin.__file__).is_relative_to(pathlib.Path(sys.prefix)), quorin.__file__
with quorin.load(sys.argv[1]) as model:
    wait = model.run().loc["Line", "Mean time"]
assert abs(wait - 3.2756679219) < 1e-9, wait
print("installed module runs:", quorin.__file__)
PY
