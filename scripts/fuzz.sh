#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang and runs each in turn for SECONDS
# (default 5), starting from the seed corpus in fuzz/corpus/<target>. Inputs the fuzzer finds
# interesting are kept in build-fuzz/corpus/<target>, so later runs go on from there; a crash,
# a failed property or a hang is saved under build-fuzz/findings/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
targets=(SplitParameters SetupIni BatchLines LogLines NameList PdfWriter HandOver)

CXX=clang++ cmake -S . -B build-fuzz -DQS_FUZZ=ON -DQS_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers >/dev/null

# The targets rewrite a scratch file for every input: keep it in memory when we can.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

mkdir -p build-fuzz/findings
status=0
for target in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$target"
    log="build-fuzz/$target.log"
    if "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 \
        -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} inputs in ${seconds} s, no finding"
    else
        echo "fuzz_$target: FINDING (see $log and build-fuzz/findings/)"
        status=1
    fi
done
exit "$status"
