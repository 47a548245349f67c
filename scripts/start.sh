#!/usr/bin/env bash
# Sets up, builds and starts Quillsever: the window without arguments, quillsever-cli with
# them (e.g. scripts/start.sh expand "1s,2s" --pages 2).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
if [ "$#" -gt 0 ]; then
    exec build-release/cli/quillsever-cli "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here: start the window with 'xvfb-run -a build-release/ui/quillsever', or use 'build-release/cli/quillsever-cli --help'."
    exit 1
fi
exec build-release/ui/quillsever
