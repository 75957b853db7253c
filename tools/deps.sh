#!/usr/bin/env bash
# Installs the Debian packages a task needs when they are missing.
#   tools/deps.sh build     compilers, CMake and the libraries of the build
#   tools/deps.sh python    the Python module, its package and its tests
#   tools/deps.sh browser   Chromium and Node.js for the workbench's tests
# Several groups may be given at once. Nothing is done when all is there.
set -euo pipefail

declare -A groups=(
  [build]="cmake g++ make pkg-config locales libgtest-dev libbenchmark-dev libeigen3-dev libnlopt-cxx-dev
           libboost-math-dev nlohmann-json3-dev libcli11-dev libcpp-httplib-dev"
  [python]="pybind11-dev python3-dev python3-pytest python3-numpy python3-scipy python3-pandas
            python3-matplotlib python3-statsmodels python3-setuptools python3-wheel python3-venv
            python3-pip libopenblas0-pthread"
  [browser]="chromium"
)

missing=()
for group in "$@"; do
  [[ -n ${groups[$group]+x} ]] || { echo "tools/deps.sh: unknown group '$group'" >&2; exit 2; }
  for pkg in ${groups[$group]}; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  # Node.js may come from another source than Debian; only its absence counts.
  if [[ $group == browser ]] && ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
  fi
done

((${#missing[@]} == 0)) && exit 0
echo "==> Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
