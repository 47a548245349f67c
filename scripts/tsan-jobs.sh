#!/usr/bin/env bash
# Builds quillsever-cli under ThreadSanitizer and splits one batch with three workers
# (run --jobs 3) and with one: no data race may be reported, and both runs must leave the same
# parts and the same log lines.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_TESTS=OFF -DQS_TCMALLOC=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j"$(nproc)" --target quillsever-cli make-big-pdf >/dev/null
cli=$PWD/build-tsan/cli/quillsever-cli
make_pdf=$PWD/build-tsan/bench/make-big-pdf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for run in one three; do
    mkdir -p "$work/$run/in"
    : >"$work/$run/jobs.spl"
    for i in $(seq 1 16); do
        "$make_pdf" "$work/$run/in/s$i.pdf" $((5 + i * 3)) 2>/dev/null
        printf 'in/s%d.pdf; %s; 0; ; ; out%d; %s; ; Y; ; 0; 0; 0\r\r\n' "$i" \
            "$([ $((i % 3)) = 0 ] && echo 2s || echo 1s)" $((i % 2)) \
            "$([ $((i % 4)) = 0 ] && echo Y || echo N)" >>"$work/$run/jobs.spl"
    done
done
export TSAN_OPTIONS=halt_on_error=1
(cd "$work/one" && "$cli" run jobs.spl --quiet)
(cd "$work/three" && "$cli" run jobs.spl --quiet --jobs 3)
diff -r "$work/one/out0" "$work/three/out0"
diff -r "$work/one/out1" "$work/three/out1"
diff <(cut -f2,3,6 "$work/one/split.log") <(cut -f2,3,6 "$work/three/split.log")
echo "tsan-jobs: three workers left what one left, without a data race"
