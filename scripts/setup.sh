#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: apt-get runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libssl-dev libgmp-dev
  binutils tar gzip iproute2 net-tools util-linux procps
  libglib2.0-dev libnm-dev libglade2-dev xvfb xauth
  clang-14 libclang-rt-14-dev
  dpkg-dev lintian man-db groff-base bash
  valgrind clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
