#!/usr/bin/env bash
# Times quillsever-cli's proposals on one large generated PDF against the split each proposal
# leads to, and the page reading of the two PDF libraries at hand.
# Usage: bash bench/propose-bench.sh [PAGES] [RUNS] [READ_PAGES]   (defaults 20000, 3 and 2000)
# PROPOSALS="--max-size 1M,--max-size 3M" times only those proposals (and skips the page
# reading); with INSTRUCTIONS=1 each proposal and its split also run once under callgrind, whose
# instruction counts the load of a shared machine does not change.
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-20000}
runs=${2:-3}
readPages=${3:-2000}

bash scripts/setup.sh
sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! [ -x /usr/bin/time ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q time >/dev/null
fi
if [ "${INSTRUCTIONS:-0}" = 1 ] && ! command -v valgrind >/dev/null; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q valgrind >/dev/null
fi
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target quillsever-cli make-big-pdf \
    proposer-library-bench >/dev/null
cli=$PWD/build-release/cli/quillsever-cli
libraries=$PWD/build-release/bench/proposer-library-bench
# One core, as the figures are stated; without taskset the machine decides.
one=(); command -v taskset >/dev/null && one=(taskset -c 0)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-release/bench/make-big-pdf "$work/big.pdf" "$pages" >/dev/null
cd "$work"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# seconds COMMAND... -> "wall cpu" of one run (user + system), outputs of earlier runs removed
seconds() {
    rm -rf out split.log && mkdir out && sync
    /usr/bin/time -f "%e %U %S" -o stats "$@" >/dev/null 2>&1
    awk '{printf "%.2f %.2f\n", $1, $2 + $3}' stats
}

echo
echo "Input: $pages pages, $(du -k big.pdf | cut -f1) KiB; median of $runs runs, wall and CPU seconds."
echo "uptime at the start: $(uptime)"
echo
echo "| proposal | parts | ranges wall | ranges CPU | split of it, wall | split CPU |"
echo "|---|---|---|---|---|---|"
IFS=, read -ra proposals <<<"${PROPOSALS:---bookmarks 1,--bookmarks 2,--max-size 100k,--max-size 1M,--max-size 3M}"
instructions() {
    rm -rf out && mkdir out
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
        sed -n 's/.*I *refs: *//p' | tr -d ,
}
counted=()
for mode in "${proposals[@]}"; do
    # shellcheck disable=SC2086
    "$cli" ranges big.pdf $mode >proposal
    parameters=$(head -n 1 proposal)
    parts=$(($(wc -l <proposal) - 1))
    rw=(); rc=(); sw=(); sc=()
    for _ in $(seq "$runs"); do
        # shellcheck disable=SC2086
        read -r w c < <(seconds "$cli" ranges big.pdf $mode)
        rw+=("$w"); rc+=("$c")
        read -r w c < <(seconds "$cli" split big.pdf "$parameters" --to out --quiet)
        sw+=("$w"); sc+=("$c")
    done
    printf '| ranges %s | %d | %s | %s | %s | %s |\n' "$mode" "$parts" \
        "$(printf '%s\n' "${rw[@]}" | median)" "$(printf '%s\n' "${rc[@]}" | median)" \
        "$(printf '%s\n' "${sw[@]}" | median)" "$(printf '%s\n' "${sc[@]}" | median)"
    if [ "${INSTRUCTIONS:-0}" = 1 ]; then
        # shellcheck disable=SC2086
        ri=$(instructions "$cli" ranges big.pdf $mode)
        si=$(instructions "$cli" split big.pdf "$parameters" --to out --quiet)
        counted+=("ranges $mode: $ri instructions, its split $si")
    fi
done
echo
[ ${#counted[@]} -gt 0 ] && printf '%s\n' "${counted[@]}"
echo "uptime at the end: $(uptime)"
[ -n "${PROPOSALS:-}" ] && exit 0

# Blank pages and text on one core, over the first READ_PAGES pages.
rm -rf out && mkdir out
"$cli" split big.pdf "1-$readPages" --to out --quiet >/dev/null 2>&1
head=$(ls out/*.pdf)
echo
echo "| one core, $readPages text pages | CPU s | pages per second |"
echo "|---|---|---|"
for mode in "--blank-separators" "--text INVOICE"; do
    # shellcheck disable=SC2086
    "${one[@]}" /usr/bin/time -f "%U %S" -o stats "$cli" ranges "$head" $mode >/dev/null 2>&1 || true
    # (time puts a line before the figures when the command exits 1: nothing to cut at)
    tail -n 1 stats | awk -v m="$mode" -v n="$readPages" \
        '{c = $1 + $2; printf "| ranges %s | %.2f | %.0f |\n", m, c, n / c}'
done

echo
mkdir kinds
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "${one[@]}" \
    "$libraries" kinds big.pdf "$readPages"
