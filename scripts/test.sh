#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: test.sh [normal|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
./scripts/deps.sh test
./scripts/build.sh "$kind"
dir=build
if [ "$kind" = asan ]; then
    dir=build-asan
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
ctest --test-dir "$dir" --output-on-failure -j 2
