#!/usr/bin/env bash
# How `run BATCH --check` grows with the batch: batches of 10,000, 30,000 and 100,000 jobs
# (page counts given, so no source is opened) of two kinds: "many", a source of its own for
# every job, split into a folder that a hundred jobs share; "one", one source that every job
# splits (a page each, in turn) into a folder of its own. Prints kind, jobs, median wall
# seconds and peak KiB; a check that grows linearly takes about ten times as long for 100,000
# jobs as for 10,000.
#
# Usage: bash bench/check-bench.sh [RUNS] [SIZES]   (defaults 3 and "10000 30000 100000")
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
sizes=${2:-"10000 30000 100000"}

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target quillsever-cli >/dev/null
cli=$PWD/build-release/cli/quillsever-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%6s %8s %10s %10s\n' kind jobs seconds peak-KiB
for kind in many one; do
    for jobs in $sizes; do
        awk -v n="$jobs" -v dir="$work" -v kind="$kind" 'BEGIN {
            for (i = 0; i < n; i++)
                if (kind == "many")
                    printf "%s/in/report%d.pdf; 1s; 12; Ready.; ; %s/out/%d; N; N; Y; ; 0; 0; 0\r\n",
                        dir, i, dir, int(i / 100)
                else
                    printf "%s/in/report.pdf; %d; 12; Ready.; ; %s/out/%d; N; N; Y; ; 0; 0; 0\r\n",
                        dir, i % 12 + 1, dir, i
        }' >jobs.spl
        : >times
        : >peaks
        for _ in $(seq "$runs"); do
            /usr/bin/time -f '%e %M' -o measure "$cli" run jobs.spl --check >/dev/null 2>&1 ||
                true
            cut -d' ' -f1 measure >>times
            cut -d' ' -f2 measure >>peaks
        done
        printf '%6s %8s %10s %10s\n' "$kind" "$jobs" "$(median <times)" "$(median <peaks)"
    done
done
