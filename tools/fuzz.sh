#!/usr/bin/env bash
# Builds the two libFuzzer targets with clang (ASan + UBSan) and runs them at
# the same time, one per core, each for the given number of seconds (default
# 120). Exits non-zero when a target finds a crash, a leak, a sanitizer
# report or a wrong answer.
#   tools/fuzz.sh [seconds]          build and run both targets
#   FUZZ_TARGETS=load tools/fuzz.sh  run only the load target
#   FUZZ_BUILD_ONLY=1 tools/fuzz.sh  build only
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-120}
build=$root/build/fuzz
jobs=${FUZZ_JOBS:-2}

if ! command -v clang++-14 >/dev/null || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev
fi

cxx=clang++-14
flags=(-std=c++20 -g -O1 -ffp-contract=off -fno-fast-math -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=all -I"$root/include" -I"$root/src")

# The plan object's sources, each compiled once with coverage instrumentation.
mkdir -p "$build/obj"
objects=()
pids=()
for src in "$root"/src/{plan,design,model,optimize,io}/*.cpp; do
  obj=$build/obj/$(basename "$(dirname "$src")")_$(basename "${src%.cpp}").o
  objects+=("$obj")
  newest=$(ls -t "$src" "$root"/src/*/*.h "$root"/include/tavrin/*.h "$root"/include/tavrin/detail/*.h | head -n 1)
  if [[ ! -f $obj || $newest -nt $obj ]]; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" &
    pids+=($!)
    if ((${#pids[@]} >= jobs)); then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  fi
done
for pid in "${pids[@]}"; do wait "$pid"; done

# One entry point, built once per harness: fuzz::runLoadInput and fuzz::runApiInput.
pids=()
for target in load api; do
  "$cxx" "${flags[@]}" -fsanitize=fuzzer -DTAVRIN_FUZZ_RUN="fuzz::run${target^}Input" "$root/tests/fuzz/fuzzer.cpp" \
    "${objects[@]}" -o "$build/${target}_fuzzer" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
echo "==> fuzz targets built in $build"
[[ ${FUZZ_BUILD_ONLY:-0} == 1 ]] && exit 0

# The targets run at the same time, one per core, each for the full time;
# their output is shown one after the other once both have finished.
targets=(${FUZZ_TARGETS:-load api})
declare -A pid_of
for target in "${targets[@]}"; do
  case $target in
    load) max_len=4096 ;;
    api) max_len=2048 ;;
    *) echo "tools/fuzz.sh: unknown target '$target'" >&2; exit 2 ;;
  esac
  work=$build/corpus-$target
  artifacts=$build/artifacts-$target/
  mkdir -p "$work" "$artifacts"
  echo "==> ${target}_fuzzer for $seconds s"
  "$build/${target}_fuzzer" "$work" "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts" -print_final_stats=1 >"$build/$target.log" 2>&1 &
  pid_of[$target]=$!
done

status=0
for target in "${targets[@]}"; do
  if wait "${pid_of[$target]}"; then result=passed; else result=failed; status=1; fi
  echo "==> ${target}_fuzzer output ($build/$target.log):"
  cat "$build/$target.log"
  [[ $result == passed ]] || echo "==> ${target}_fuzzer found a problem; inputs are in $build/artifacts-$target/" >&2
done
exit $status
