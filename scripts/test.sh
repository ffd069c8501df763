#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite.
# usage: scripts/test.sh [--sanitize] [--tsan] [ctest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
  --sanitize) dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DKEL_SANITIZE=ON -DKEL_BUILD_BENCH=OFF); shift ;;
  --tsan) dir=build-tsan; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_TSAN=ON -DKEL_BUILD_BENCH=OFF); shift ;;
esac
[ -n "${CI:-}" ] && args+=(-DKEL_WERROR=ON)

bash scripts/build.sh "$dir" "${args[@]}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure -LE slow "$@"
