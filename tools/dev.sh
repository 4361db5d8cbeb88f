#!/usr/bin/env bash
# Set-up, build and checks on a Debian 12 machine.
#   tools/dev.sh example   install what is missing, build, run on the bundled example
#   tools/dev.sh test      install what is missing, build, run every test in Release
#                          and under AddressSanitizer + UndefinedBehaviorSanitizer
#   tools/dev.sh bench     install what is missing, build, run the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake g++ make pkg-config libpcre3-dev libgtest-dev libbenchmark-dev
          fasm qemu-user-static diffutils bc time acl)

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg -s "$package" > /dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" > /dev/null
}

build() {  # build DIRECTORY CMAKE-OPTIONS...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "$@" > /dev/null
  cmake --build "$dir" -j "$(nproc)"
}

run_example() {
  build build/release -DCMAKE_BUILD_TYPE=Release
  local scratch
  scratch=$(mktemp -d)
  cp examples/Velmarin.asm "$scratch/"
  echo "== orrinvale in $scratch"
  # On a terminal the tool prints UTF-8; redirected it prints UTF-16LE.
  if [ -t 1 ]; then
    (cd "$scratch" && "$root/build/release/orrinvale")
  else
    (cd "$scratch" && "$root/build/release/orrinvale" | iconv -f UTF-16LE -t UTF-8)
  fi
  echo "== diff examples/Velmarin.asm $scratch/Velmarin.asm"
  diff --strip-trailing-cr examples/Velmarin.asm "$scratch/Velmarin.asm" || true
}

run_tests() {
  build build/release -DCMAKE_BUILD_TYPE=Release
  (cd build/release && ctest --output-on-failure -j 2)
  build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DORRINVALE_SANITIZE=ON
  (cd build/sanitize && ctest --output-on-failure -j 2)
}

run_benchmarks() {
  build build/bench -DCMAKE_BUILD_TYPE=Release -DORRINVALE_BENCHMARKS=ON
  bash bench/whole_run.sh build/bench "${@}"
  build/bench/bench/orrinvale_micro_bench
}

install_missing
case "${1:-}" in
  example) run_example ;;
  test) run_tests ;;
  bench) shift; run_benchmarks "$@" ;;
  *) echo "usage: tools/dev.sh example|test|bench" >&2; exit 2 ;;
esac
