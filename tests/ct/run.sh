#!/usr/bin/env bash
# Constant-time check of the toolkit's secret paths (tests/ct/ct_check.cpp):
#  1. under valgrind memcheck, on the portable paths and every hardware path
#     valgrind emulates (AES-NI, PCLMULQDQ, AVX2);
#  2. natively under clang's MemorySanitizer, for the paths valgrind cannot
#     run (VAES, VPCLMULQDQ, SHA-NI, AVX-512);
# and in each, a deliberate leak that must be reported, or the check itself
# is broken. usage: tests/ct/run.sh [BUILD_DIR]   (default build-ct)
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-build-ct}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fail=0
failed() {  # failed MESSAGE: said now, and the run fails at the end
  echo "FAILED: $1"
  fail=1
}
build() {  # build CHECKER COMPILER
  cmake -S tests/ct -B "$out/$1" -G Ninja "${launcher[@]}" -DKEL_CT_CHECKER="$1" \
    -DCMAKE_CXX_COMPILER="$2" >/dev/null
  cmake --build "$out/$1" -j "$(nproc)" >/dev/null
}
canary() {  # canary CHECKER COMMAND...: the deliberate leak must be reported
  if "${@:2}" canary >/dev/null 2>&1; then
    failed "$1 did not report the leaking canary"
  else
    echo "canary reported by $1, as it must be"
  fi
}

echo "== constant-time check under valgrind memcheck"
build valgrind g++
vg=(valgrind -q --error-exitcode=99 --exit-on-first-error=no)
"${vg[@]}" "$out/valgrind/ct_check" ||
  failed "a secret reached a branch or an address under valgrind (above)"
canary valgrind "${vg[@]}" "$out/valgrind/ct_check"

echo "== constant-time check under MemorySanitizer (native paths)"
if command -v clang++-14 >/dev/null; then
  build msan clang++-14
  for c in $("$out/msan/ct_check" --list); do
    "$out/msan/ct_check" "$c" || failed "MemorySanitizer reported a secret in case $c (above)"
  done
  canary MemorySanitizer "$out/msan/ct_check"
else
  failed "clang++-14 is missing (scripts/setup.sh installs it)"
fi
exit $fail
