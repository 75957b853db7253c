#!/usr/bin/env bash
# Runs the unit tests of both layers under valgrind memcheck: the plan
# object's (tavrin_tests) and the study layer's (designs, study, analysis,
# optimum).
# They are the Release build's own binaries (build/release, which the test
# command has built; configured and built here when missing), so nothing is
# compiled for this check alone. Any memory error or definite/indirect leak
# fails the run. Extra arguments go to every test binary; VALGRIND_PARALLEL
# (default 2) binaries run at a time.
set -euo pipefail

cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD:-build/release}
if ! command -v valgrind >/dev/null; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends valgrind
fi
[[ -f $build/CMakeCache.txt ]] || cmake --preset release >/dev/null
tests=(tavrin_tests designs_tests optimum_tests study_tests analysis_tests)
cmake --build "$build" --target "${tests[@]}" -j "${VALGRIND_JOBS:-2}"

# Two binaries at a time (valgrind runs a program's threads on one core),
# the longest first; each one's output is shown when it has finished.
logs=$build/valgrind
mkdir -p "$logs"
declare -A test_of start_of
status=0
running=0
finish_one() {
  local pid result
  if wait -n -p pid; then result=passed; else result=failed; status=1; fi
  running=$((running - 1))
  local test=${test_of[$pid]}
  echo "==> valgrind memcheck: $test ($logs/$test.log)"
  cat "$logs/$test.log"
  echo "==> valgrind memcheck: $test: $result in $((SECONDS - start_of[$pid])) s"
}
for test in "${tests[@]}"; do
  ((running < ${VALGRIND_PARALLEL:-2})) || finish_one
  valgrind --error-exitcode=1 --suppressions=tools/valgrind.supp --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --track-origins=yes \
    --trace-children=no "$build/tests/$test" --gtest_brief=1 "$@" >"$logs/$test.log" 2>&1 &
  test_of[$!]=$test
  start_of[$!]=$SECONDS
  running=$((running + 1))
done
while ((running > 0)); do finish_one; done
exit $status
