#!/usr/bin/env bash
# Installs what is missing, then builds everything in Release and runs every
# test: the unit tests of both layers, the example studies, the install
# test, the command-line sessions, the Python package and the workbench.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build python browser
cmake --workflow --preset test
