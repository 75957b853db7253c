#!/usr/bin/env bash
# Static analysis of the library (src/) and the command line with its
# workbench server (cli/): clang-tidy (configuration in .clang-tidy, every
# warning an error) and cppcheck (warning, performance and portability
# checks). Exits non-zero on any finding. CLI11, cpp-httplib and
# nlohmann-json come from /usr/include, so their findings stay filtered as
# system headers.
set -euo pipefail

cd "$(dirname "$0")/.."
build=build/lint
tidy=${CLANG_TIDY:-clang-tidy-14}

missing=()
command -v "$tidy" >/dev/null || missing+=(clang-tidy-14)
command -v cppcheck >/dev/null || missing+=(cppcheck)
if ((${#missing[@]} > 0)); then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update
  "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# A tree of its own: the Release tree's warnings-as-errors flags would make
# clang refuse GCC-only warning names in the sources' pragmas. Its batches
# (unity files) let clang parse Eigen and the JSON library once per batch;
# the header filter reports findings in the batched sources as it does in
# headers, at their own file and line.
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_UNITY_BUILD=ON \
  -DTAVRIN_BUILD_EXAMPLES=OFF -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_PYTHON=OFF >/dev/null

# The units to check: the compile database's, plus any source that no target
# of this configuration compiles (cli/serve_absent.cpp), so every .cpp under
# src/ and cli/ is checked once.
mapfile -t units < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | sort -u)
covered=$(for unit in "${units[@]}"; do
  if [[ $unit == *.cxx ]]; then sed -n 's/^#include "\(.*\)"$/\1/p' "$unit"; else echo "$unit"; fi
done | sort -u)
while IFS= read -r source; do
  grep -qxF "$source" <<<"$covered" || units+=("$source")
done < <(find "$PWD/src" "$PWD/cli" -name '*.cpp' | sort)

status=0
echo "==> clang-tidy"
# One clang-tidy per core, one unit each, so that no core idles at the end
# while the other works through a list. A unity file includes .cpp files by
# design, so only there the suspicious-include check is off. The per-unit
# "N warnings generated" notes count suppressed system-header warnings; they
# are filtered out, real findings are not.
tidy_one() {
  local extra=()
  [[ $1 == *.cxx ]] && extra=(--checks=-bugprone-suspicious-include)
  "$tidy" -p "$build" --quiet --warnings-as-errors='*' "${extra[@]}" "$1"
}
export -f tidy_one
export tidy build
if ! printf '%s\0' "${units[@]}" | xargs -0 -n 1 -P "$(nproc)" bash -c 'tidy_one "$1"' _ \
    2> >(grep -v 'warnings\? generated\.$' >&2); then
  status=1
fi

echo "==> cppcheck"
# One thread per core; its work folder keeps the whole-program analysis,
# which cppcheck does across threads only with one.
mkdir -p build/cppcheck
if ! cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --std=c++20 \
    --language=c++ -I include -I src -I cli --suppressions-list=.cppcheck-suppressions -q \
    -j "$(nproc)" --cppcheck-build-dir=build/cppcheck src/ cli/; then
  status=1
fi
exit $status
