#!/usr/bin/env bash
# Builds the threaded suites under ThreadSanitizer and runs them: the log
# engine (label log), the OS layer (crypto_platform) and the random numbers
# with the entropy depot, the DRBGs and the random context (crypto_random).
# Only those test programs are built. Extra arguments go to ctest.
# usage: scripts/tsan.sh [ctest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

dir=build-tsan
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_TSAN=ON -DKEL_BUILD_BENCH=OFF)
[ -n "${CI:-}" ] && args+=(-DKEL_WERROR=ON)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target test_log test_crypto_platform test_crypto_random
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure -LE slow -L '^(log|crypto_platform|crypto_random)$' "$@"
