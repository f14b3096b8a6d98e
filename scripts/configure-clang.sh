#!/usr/bin/env bash
# Configures a clang build tree with sanitizers, the one way every
# instrumented tree here is set up (scripts/sanitize.sh, scripts/fuzz.sh):
#   scripts/configure-clang.sh <build-dir> <sanitizers> [cmake arguments...]
# Instrumented code is built at -O1 with line tables only: reports keep
# file:line and the build takes a fraction of a full debug build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1" sanitize="$2"
shift 2

missing=()
for package in clang libclang-rt-dev; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S "$ROOT" -B "$dir" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Sanitize \
  -DCMAKE_C_FLAGS_SANITIZE="-O1 -gline-tables-only" \
  -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -gline-tables-only" \
  -DDASTEL_SANITIZE="$sanitize" -DDASTEL_BUILD_BENCHMARKS=OFF "$@"
