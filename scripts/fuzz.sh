#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each on its seed corpus: fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
./scripts/deps.sh test
./scripts/build.sh fuzz
# A sanitizer report of any kind ends the run as a failure.
export ASAN_OPTIONS=abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
while IFS='=' read -r target corpus; do
    [ -n "$target" ] || continue
    work=fuzz-out/$target
    mkdir -p "$work"
    echo "fuzz: $target for ${seconds}s"
    # New inputs go to the scratch folder; the seed corpus in the tree is only read.
    build-fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 "$work" "$corpus" </dev/null 2>"$work/log" || { tail -50 "$work/log"; exit 1; }
    grep -E 'stat::number_of_executed_units' "$work/log" || true
done < build-fuzz/fuzzers.txt
echo "fuzz: all targets ran clean"
