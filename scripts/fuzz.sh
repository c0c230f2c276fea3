#!/usr/bin/env bash
# Fuzzes Zandrel's readers and protocol engines: builds the fuzz targets with clang and
# libFuzzer (AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz, then runs each
# target for SECONDS, one after the other, starting from its seed corpus in tests/fuzz/corpus.
#
#   scripts/fuzz.sh SECONDS [TARGET...]     (all targets when none is named)
#
# Inputs that reach new code are kept in a scratch folder, never in the repository:
# $ZANDREL_FUZZ_SCRATCH (default /tmp/zandrel-fuzz)/<target>/corpus; an input that breaks a
# promise, crashes or runs past 30 s goes to <target>/findings. Per target it prints the
# executions, the executions per second and the findings. Needs clang and its runtime
# (Debian: clang, and libclang-rt-14-dev or the runtime of the clang installed).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [TARGET...]" >&2
    exit 2
fi
seconds="$1"
shift
scratch="${ZANDREL_FUZZ_SCRATCH:-/tmp/zandrel-fuzz}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZANDREL_FUZZ=ON -DZANDREL_BUILD_BENCH=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for folder in tests/fuzz/corpus/*/; do
        targets+=("$(basename "$folder")")
    done
fi
build_targets=()
for target in "${targets[@]}"; do
    build_targets+=("zandrel_fuzz_$target")
done
cmake --build build-fuzz --target "${build_targets[@]}"

summary=()
failed=0
for target in "${targets[@]}"; do
    corpus="$scratch/$target/corpus"
    findings="$scratch/$target/findings"
    log="$scratch/$target/fuzz.log"
    mkdir -p "$corpus" "$findings"
    echo "== $target: $seconds s"
    status=0
    "build-fuzz/fuzz-bin/fuzz-$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1 ||
        status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
    found="$(find "$findings" -type f | wc -l)"
    if [ "$status" -ne 0 ]; then
        failed=1
        grep -E "promise broken|ERROR: |runtime error|SUMMARY" "$log" | head -5 || true
    fi
    summary+=("$(printf '%-24s %12s executions %8s exec/s %3s findings' "$target" \
        "${runs:-?}" "${rate:-?}" "$found")")
done

echo
printf '%s\n' "${summary[@]}"
echo "Inputs and findings: $scratch"
exit "$failed"
