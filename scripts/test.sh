#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzzers briefly, the watchdog and a run of several
# workers under ThreadSanitizer, then the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (last, so that its summary is the last thing printed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/fuzz.sh "${QS_FUZZ_SECONDS:-3}"
bash scripts/tsan-watchdog.sh
bash scripts/tsan-jobs.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-asan && ctest --output-on-failure -j"$(nproc)"
