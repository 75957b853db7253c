#!/usr/bin/env bash
# Installs what is missing, then builds and runs the example study through
# the study layer (examples/process_study.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build
cmake --workflow --preset example
