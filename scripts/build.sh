#!/usr/bin/env bash
# Configures and builds one build directory: build.sh [normal|asan|fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
case "$kind" in
    normal) dir=build;      args=() ;;
    asan)   dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DLS_SANITIZE=ON -DLS_BENCH=OFF) ;;
    fuzz)   dir=build-fuzz; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLS_FUZZ=ON
                                  -DCMAKE_CXX_COMPILER=clang++) ;;
    *) echo "usage: $0 [normal|asan|fuzz]" >&2; exit 2 ;;
esac
# Configure every time (quick when nothing changed) so that newly added folders are picked up.
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
