#!/usr/bin/env bash
# Times quillsever-cli against qpdf and pdfseparate on one large generated PDF.
# Usage: bash bench/split-bench.sh [PAGES] [RUNS]   (defaults 2400 and 5)
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-2400}
runs=${2:-5}

bash scripts/setup.sh
if ! [ -x /usr/bin/time ]; then
    sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q time >/dev/null
fi
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
cli=$PWD/build-release/cli/quillsever-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-release/bench/make-big-pdf "$work/big.pdf" "$pages"
cd "$work"

# Each round runs every command of a case once, in turn, so that whatever the machine is doing
# meets them all alike. Before each timed command the previous outputs are deleted and the
# disk is synced, so no command pays for another's writes.
# measure_case TAG COMMAND... (commands separated by ";;") -> lines "TAG median_s median_kib files"
measure_case() {
    local tag=$1
    shift
    local commands=() current=()
    for word in "$@"; do
        if [ "$word" = ";;" ]; then commands+=("${current[*]}"); current=(); else current+=("$word"); fi
    done
    commands+=("${current[*]}")
    local n=${#commands[@]}
    declare -A times mems files
    for _ in $(seq "$runs"); do
        for i in $(seq 0 $((n - 1))); do
            rm -rf out split.log && mkdir out && sync
            # shellcheck disable=SC2086
            /usr/bin/time -f "%e %M" -o stats ${commands[$i]} >/dev/null 2>&1
            read -r t m <stats
            times[$i]="${times[$i]:-} $t"
            mems[$i]="${mems[$i]:-} $m"
            files[$i]=$(find out -type f | wc -l)
        done
    done
    for i in $(seq 0 $((n - 1))); do
        local mt mm
        mt=$(printf '%s\n' ${times[$i]} | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
        mm=$(printf '%s\n' ${mems[$i]} | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
        echo "$tag$i $mt $mm ${files[$i]}"
    done
}

row() { # label seconds kib files base_seconds base_kib
    awk -v l="$1" -v t="$2" -v m="$3" -v f="$4" -v bt="$5" -v bm="$6" 'BEGIN {
        printf "| %-44s | %6d | %8.2f | %6.2fx | %8.1f | %6.2fx |\n", l, f, t, t / bt, m / 1024, m / bm }'
}

echo
echo "Input: $pages pages, $(du -k big.pdf | cut -f1) KiB; median of $runs runs; ratios against qpdf."
echo
echo "| command | files | wall s | vs qpdf | peak MiB | vs qpdf |"
echo "|---|---|---|---|---|---|"
measure_case single qpdf --split-pages big.pdf out/page.pdf ";;" \
    "$cli" split big.pdf 1s --to out --quiet ";;" pdfseparate big.pdf out/page-%d.pdf >results
measure_case ten qpdf --split-pages=10 big.pdf out/part.pdf ";;" \
    "$cli" split big.pdf 10s --to out --quiet >>results
# The same pages protected by an owner password (AES-256): both keep the encryption in every part.
qpdf --encrypt '' owner 256 --print=none --modify=none -- big.pdf locked.pdf
measure_case locked qpdf --split-pages locked.pdf out/page.pdf ";;" \
    "$cli" split locked.pdf 1s --to out --quiet >>results
while read -r tag t m f; do declare "${tag}_t=$t" "${tag}_m=$m" "${tag}_f=$f"; done <results
row "qpdf --split-pages (single pages)" "$single0_t" "$single0_m" "$single0_f" "$single0_t" "$single0_m"
row "quillsever-cli split 1s (keeps bookmarks)" "$single1_t" "$single1_m" "$single1_f" "$single0_t" "$single0_m"
row "pdfseparate (single pages)" "$single2_t" "$single2_m" "$single2_f" "$single0_t" "$single0_m"
row "qpdf --split-pages=10" "$ten0_t" "$ten0_m" "$ten0_f" "$ten0_t" "$ten0_m"
row "quillsever-cli split 10s (keeps bookmarks)" "$ten1_t" "$ten1_m" "$ten1_f" "$ten0_t" "$ten0_m"
row "qpdf --split-pages (AES-256 source)" "$locked0_t" "$locked0_m" "$locked0_f" "$locked0_t" "$locked0_m"
row "quillsever-cli split 1s (AES-256 source)" "$locked1_t" "$locked1_m" "$locked1_f" "$locked0_t" "$locked0_m"
