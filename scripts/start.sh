#!/usr/bin/env bash
# Sets up, builds and starts Quillsever. Arguments go to the program (default: --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
if [ "$#" -eq 0 ]; then set -- --help; fi
exec build-release/cli/quillsever-cli "$@"
