#!/usr/bin/env bash
# Builds the unit tests with ThreadSanitizer (g++) in build/tsan and runs the
# concurrent-studies test, then the whole suite, stopping at the first race;
# then the optimum's tests, whose search and robustness run on threads.
#   tools/tsan.sh          threads test and whole suite
#   TSAN_QUICK=1 tools/tsan.sh   threads test only
set -euo pipefail

cd "$(dirname "$0")/.."
build=build/tsan
# Line tables only (-g1): reports keep file and line, and the heavy Eigen
# files compile in about 70 % of the CPU time they take with -g.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DTAVRIN_SANITIZE=thread -DTAVRIN_UNITY_BUILD=ON \
  -DTAVRIN_BUILD_EXAMPLES=OFF -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" --target tavrin_tests optimum_tests -j "${TSAN_JOBS:-2}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
echo "==> ThreadSanitizer: concurrent studies"
"$build/tests/tavrin_tests" --gtest_filter='ConcurrentStudies.*'
if [[ ${TSAN_QUICK:-0} != 1 ]]; then
  echo "==> ThreadSanitizer: whole suite"
  "$build/tests/tavrin_tests" --gtest_brief=1
fi
echo "==> ThreadSanitizer: the optimum's threads"
"$build/tests/optimum_tests" --gtest_brief=1
