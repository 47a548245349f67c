#!/usr/bin/env bash
# Sets up, builds and runs every test under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-asan && ctest --output-on-failure -j"$(nproc)"
