#!/usr/bin/env bash
# Splits a corpus of generated, LibreOffice, documentation and damaged PDFs with quillsever-cli
# and compares every part with qpdf's copy of the same pages: size, rendering, labels, forms,
# qpdf --check, tags. Usage: bash bench/corpus-compare.sh [WORKDIR] [more options of
# corpus-compare.py, such as --docs 100 --render 0]. The corpus is kept in WORKDIR/corpus and
# made again only when that folder is empty. Needs qpdf, poppler-utils (pdftoppm, pdfinfo),
# python3, and LibreOffice for the tagged documents (skipped without it).
set -euo pipefail
cd "$(dirname "$0")/.."
work="${1:-${TMPDIR:-/tmp}/quillsever-corpus}"
shift || true
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target quillsever-cli make-big-pdf >/dev/null
python3 bench/corpus-compare.py --cli build-release/cli/quillsever-cli \
    --maker build-release/bench/make-big-pdf --work "$work" "$@"
