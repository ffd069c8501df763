#!/usr/bin/env bash
# Configures and builds into the given directory with extra CMake arguments.
# usage: scripts/build.sh BUILD_DIR [cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
