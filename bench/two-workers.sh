#!/usr/bin/env bash
# What a second worker could win on one job of single pages: one quillsever-cli process splits
# every page, then two processes split the odd and the even pages side by side, each with its
# own parse and log, once into one folder (as a job's parts go) and once into two. Two
# processes are the most two threads of one run could win: threads would also have to keep the
# log lines and statuses in order. Prints the median wall time of each and the speed-ups.
#
# Usage: bash bench/two-workers.sh [PAGES] [RUNS]   (defaults 5000 and 10)
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-5000}
runs=${2:-10}

bash scripts/setup.sh >/dev/null
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target quillsever-cli make-big-pdf >/dev/null
cli=$PWD/build-release/cli/quillsever-cli

if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    work=$(mktemp -d -p /dev/shm quillsever-bench.XXXXXX)
else
    work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT
cd "$work"
"$OLDPWD/build-release/bench/make-big-pdf" in.pdf "$pages" 2>/dev/null
odd=$(seq -s, 1 2 "$pages")
even=$(seq -s, 2 2 "$pages")

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: >times
for _ in $(seq "$runs"); do
    rm -rf out a b && mkdir out a b
    start=$(now)
    (cd a && "$cli" split ../in.pdf 1s --to ../out --quiet >/dev/null 2>&1)
    one=$(($(now) - start))

    rm -rf out a b && mkdir out a b
    start=$(now)
    (cd a && "$cli" split ../in.pdf "$odd" --to ../out --quiet >/dev/null 2>&1) &
    (cd b && "$cli" split ../in.pdf "$even" --to ../out --quiet >/dev/null 2>&1)
    wait
    shared=$(($(now) - start))

    rm -rf out a b && mkdir out a b
    start=$(now)
    (cd a && "$cli" split ../in.pdf "$odd" --to . --quiet >/dev/null 2>&1) &
    (cd b && "$cli" split ../in.pdf "$even" --to . --quiet >/dev/null 2>&1)
    wait
    apart=$(($(now) - start))
    echo "$one $shared $apart" >>times
done

one=$(cut -d' ' -f1 times | median)
shared=$(cut -d' ' -f2 times | median)
apart=$(cut -d' ' -f3 times | median)
awk -v one="$one" -v shared="$shared" -v apart="$apart" -v pages="$pages" -v runs="$runs" 'BEGIN {
    printf "%d single pages, median of %d rounds, %d cores\n", pages, runs, '"$(nproc)"'
    printf "one process:                   %.3f s\n", one / 1e9
    printf "two processes, one folder:     %.3f s (%.2fx)\n", shared / 1e9, one / shared
    printf "two processes, two folders:    %.3f s (%.2fx)\n", apart / 1e9, one / apart
}'
