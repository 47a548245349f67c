#!/usr/bin/env bash
# Builds the watchdog and its test under ThreadSanitizer and runs it several times over: the
# watchdog is the one part of the program with a thread of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build-tsan
"${CXX:-g++}" -std=c++20 -g -O1 -fsanitize=thread -I. engine/Watchdog.cpp \
    tests/engine/WatchdogTest.cpp -lgtest -lgtest_main -pthread -o build-tsan/watchdog_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/watchdog_tests --gtest_repeat=20 --gtest_brief=1
