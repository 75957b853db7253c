#!/usr/bin/env bash
# Runs the unit tests of both layers under valgrind memcheck: the plan
# object's (tavrin_tests) and the study layer's (designs, study, analysis,
# optimum).
# They are the Release build's own binaries (build/release, which the test
# command has built; configured and built here when missing), so nothing is
# compiled for this check alone. Any memory error or definite/indirect leak
# fails the run. Extra arguments go to every test binary.
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
tests=(tavrin_tests designs_tests study_tests analysis_tests optimum_tests)
cmake --build "$build" --target "${tests[@]}" -j "${VALGRIND_JOBS:-2}"

status=0
for test in "${tests[@]}"; do
  start=$SECONDS
  echo "==> valgrind memcheck: $test"
  if ! valgrind --error-exitcode=1 --suppressions=tools/valgrind.supp --leak-check=full \
      --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --track-origins=yes \
      --trace-children=no "$build/tests/$test" --gtest_brief=1 "$@"; then
    status=1
  fi
  echo "==> valgrind memcheck: $test: $((SECONDS - start)) s"
done
exit $status
