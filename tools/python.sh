#!/usr/bin/env bash
# Installs the Python package `tavrin` into a virtual environment (default
# .venv) made from Debian's interpreter, /usr/bin/python3, whatever python3
# comes first on PATH: a version manager's python3 lacks Debian's numpy,
# setuptools and wheel. The package takes the extensions and libraries of
# the CMake build in build/release (built here when needed), so nothing is
# compiled twice.
#   tools/python.sh [venv]
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-.venv}
python=/usr/bin/python3

tools/deps.sh build python
if [[ -e $venv && ! -x $venv/bin/python ]]; then
  echo "tools/python.sh: $venv exists but is not a virtual environment" >&2
  exit 2
fi
if [[ -x $venv/bin/python ]] && ! grep -qx 'home = /usr/bin' "$venv/pyvenv.cfg" 2>/dev/null; then
  echo "tools/python.sh: $venv was not made from $python; remove it or name another folder" >&2
  exit 2
fi

cmake --preset release >/dev/null
cmake --build build/release --target tavrin_python_plan tavrin_python_study
[[ -x $venv/bin/python ]] || "$python" -m venv --system-site-packages "$venv"
TAVRIN_CMAKE_BUILD_DIR=$PWD/build/release PIP_DISABLE_PIP_VERSION_CHECK=1 \
  "$venv/bin/python" -m pip install --no-build-isolation --no-index -q .
echo "==> tavrin installed in $venv: $venv/bin/python -c 'import tavrin'"
