#!/usr/bin/env bash
# Times the Split Parameters dialog's preview on a generated PDF: opening the dialog to its
# first page pictures, a scroll to the middle, and the plan of "1s" over 19,998 pages.
# Usage: bash bench/preview-bench.sh [PAGES] [RUNS]   (defaults 2000 and 5)
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-2000}
runs=${2:-5}

bash scripts/setup.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target make-big-pdf preview-bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-release/bench/make-big-pdf "$work/big.pdf" "$pages"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} build-release/bench/preview-bench "$work/big.pdf" "$pages" "$runs"
