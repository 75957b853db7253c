#!/usr/bin/env bash
# Runs the whole unit-test binary under valgrind memcheck (Debug build in
# build/valgrind). Any memory error or definite/indirect leak fails the run.
set -euo pipefail

cd "$(dirname "$0")/.."
build=build/valgrind
if ! command -v valgrind >/dev/null; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends valgrind
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_BUILD_EXAMPLES=OFF \
  -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" --target tavrin_tests -j "${VALGRIND_JOBS:-2}"

start=$SECONDS
valgrind --error-exitcode=1 --suppressions=tools/valgrind.supp --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect --track-origins=yes --trace-children=no \
  "$build/tests/tavrin_tests" --gtest_brief=1 "$@"
echo "==> valgrind memcheck: $((SECONDS - start)) s"
