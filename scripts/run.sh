#!/usr/bin/env bash
# Sets up the machine, builds the library and the command-line tool, and runs
# the main job: kelctl exercising the log engine and printing where lines went,
# then building the diagnostic archive from that log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
out=${KEL_OUT:-$PWD/out}
mkdir -p "$out"
./build/tools/kelctl log --app 0 --dir "$out/logs"
./build/tools/kelctl archive "$out" --log-dir "$out/logs"
# The editor plugin as NetworkManager's connection editor meets it: installed
# into a private view of the system, then `kelctl plugin` (see README).
bash scripts/plugin-demo.sh build "$out/plugin"
