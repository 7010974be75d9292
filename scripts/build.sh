#!/usr/bin/env bash
# Configures and builds one build directory: build.sh [normal|asan|fuzz|run]
# run builds only the service (and the libraries it loads) in build/, without the benchmarks, so that it
# needs no more than scripts/packages-run.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
targets=()
case "$kind" in
    normal) dir=build;      args=(-DLS_BENCH=ON) ;;
    run)    dir=build;      args=(-DLS_BENCH=OFF); targets=(--target LocalService) ;;
    asan)   dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DLS_SANITIZE=ON -DLS_BENCH=OFF) ;;
    fuzz)   dir=build-fuzz; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLS_FUZZ=ON
                                  -DCMAKE_CXX_COMPILER=clang++) ;;
    *) echo "usage: $0 [normal|asan|fuzz|run]" >&2; exit 2 ;;
esac
# Configure every time (quick when nothing changed) so that newly added folders are picked up.
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
