#!/usr/bin/env bash
# Builds the fuzz targets in fuzz/ with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (30 by default),
# starting from its committed corpus in fuzz/corpus/<target>. New inputs go to
# a scratch directory, so the committed corpora stay as they are. A crash, a
# leak, a timeout or a failed check fails the run; the input that did it is
# kept under build-fuzz/artifacts/.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

seconds=${1:-30}
[ $# -gt 0 ] && shift
dir=build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja "${launcher[@]}" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_FUZZ=ON -DKEL_BUILD_TESTS=OFF -DKEL_BUILD_BENCH=OFF \
  ${CI:+-DKEL_WERROR=ON} >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$dir/artifacts"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  echo "fuzz: $t for ${seconds}s"
  if ! "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/$t-" "$scratch/$t" "fuzz/corpus/$t" >"$scratch/$t.log" 2>&1; then
    tail -n 60 "$scratch/$t.log"
    failed+=("$t")
  else
    grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$scratch/$t.log" | sed "s/^/  /"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s without a finding"
