#!/usr/bin/env bash
# Scale benchmark: quillsever-cli against qpdf --split-pages (and a MuPDF script when mutool
# is installed) on generated sources of 1,000 to 50,000 pages and on batches of small files.
# Every round runs each command of a case once, in turn (interleaved), so that whatever else
# the machine does meets them all alike; the table gives medians of wall time, CPU time (user
# + system) and peak memory. Outputs go to a tmpfs when there is one: on ext4, freshly freed
# inodes make file creation noisy.
#
# Sources carry an outline of one item per ten pages ("sparse") or one per page ("dense": an
# item per ten pages with one below it on each further page).
#
# Usage: [OUTPUTS=disk] bash bench/scale-bench.sh [RUNS] [CASES]
#   RUNS   rounds per case (default 3)
#   CASES  any of: single ten dense big batch jobs (default all; "big" is 50,000 pages in
#          "10s", sparse and dense, and twenty "10s" of 1,000 pages for the CPU per page;
#          "jobs" is 2,000 ten-page sources with --jobs 1 and 2)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
cases=${2:-"single ten dense big batch jobs"}
load_before=$(cut -d" " -f1-3 /proc/loadavg)

bash scripts/setup.sh >/dev/null
if ! [ -x /usr/bin/time ]; then
    sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q time >/dev/null
fi
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target quillsever-cli make-big-pdf >/dev/null
cli=$PWD/build-release/cli/quillsever-cli
make_pdf=$PWD/build-release/bench/make-big-pdf
mutool_script=$PWD/bench/split-pages.js
have_mutool=0
command -v mutool >/dev/null && have_mutool=1

# OUTPUTS=disk writes them where mktemp puts folders (a disk, usually), as most users split.
if [ "${OUTPUTS:-}" != disk ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    work=$(mktemp -d -p /dev/shm quillsever-bench.XXXXXX)
else
    work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT
cd "$work"

# qpdf splits one file per process: a batch is a loop over its files.
cat >qpdf-each.sh <<'EOF'
for f in "$@"; do
    name=${f##*/}
    qpdf --split-pages "$f" "out/${name%.pdf}-%d.pdf"
done
EOF

# One job per source, single pages, into out/.
write_batch() { # BATCH SOURCES...
    local batch=$1
    shift
    : >"$batch"
    for f in "$@"; do
        printf '%s; 1s; 10; Ready.; ; %s; N; ; Y; ; 0; 0; 0\r\n' "$PWD/$f" "$PWD/out" >>"$batch"
    done
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# measure CASE PAGES NAME COMMAND... [";;" NAME COMMAND...]...: prints one line per command,
# "CASE PAGES NAME files wall cpu kib", medians over the rounds. The first command is the one
# the others are compared with.
measure() {
    local tag=$1 pages=$2
    shift 2
    local names=() commands=() current=() name=$1
    shift
    for word in "$@"; do
        if [ "$word" = ";;" ]; then
            names+=("$name"); commands+=("${current[*]}"); current=(); name=
        elif [ -z "$name" ]; then
            name=$word
        else
            current+=("$word")
        fi
    done
    names+=("$name"); commands+=("${current[*]}")
    local n=${#commands[@]}
    declare -A walls cpus mems files
    for _ in $(seq "$runs"); do
        for i in $(seq 0 $((n - 1))); do
            rm -rf out split.log && mkdir out
            # shellcheck disable=SC2086
            /usr/bin/time -f "%e %U %S %M" -o stats ${commands[$i]} >/dev/null 2>&1 || true
            read -r wall user sys kib <stats
            walls[$i]="${walls[$i]:-} $wall"
            cpus[$i]="${cpus[$i]:-} $(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}')"
            mems[$i]="${mems[$i]:-} $kib"
            files[$i]=$(find out -type f | wc -l)
        done
    done
    for i in $(seq 0 $((n - 1))); do
        echo "$tag $pages ${names[$i]} ${files[$i]}" \
            "$(printf '%s\n' ${walls[$i]} | median)" \
            "$(printf '%s\n' ${cpus[$i]} | median)" \
            "$(printf '%s\n' ${mems[$i]} | median)"
    done
}

: >results
pdf() { # NAME PAGES CHAPTER SECTION
    [ -f "$1" ] || "$make_pdf" "$1" "$2" "$3" "$4" 2>/dev/null
}
for c in $cases; do
    case $c in
    single | dense)
        # One job holds at most 19,998 ranges, so the largest single-page case is that size.
        for pages in 1000 5000 19998; do
            if [ "$c" = single ]; then
                src=in-$pages.pdf tag=1s
                pdf "$src" "$pages" 10 0
            else
                src=dense-$pages.pdf tag=1s-dense
                pdf "$src" "$pages" 10 1
            fi
            mu=()
            if [ "$have_mutool" = 1 ] && [ "$pages" -le 5000 ] && [ "$c" = single ]; then
                mu=(";;" mutool mutool run "$mutool_script" "$src" out)
            fi
            measure "$tag" "$pages" qpdf qpdf --split-pages "$src" out/page.pdf \
                ";;" quillsever "$cli" split "$src" 1s --to out --quiet \
                "${mu[@]}" >>results
        done
        ;;
    ten)
        for pages in 1000 5000 20000; do
            pdf "in-$pages.pdf" "$pages" 10 0
            measure "10s" "$pages" qpdf qpdf --split-pages=10 "in-$pages.pdf" out/part.pdf \
                ";;" quillsever "$cli" split "in-$pages.pdf" 10s --to out --quiet >>results
        done
        ;;
    big)
        pdf in-50000.pdf 50000 10 0
        pdf dense-50000.pdf 50000 10 1
        measure "10s" 50000 qpdf qpdf --split-pages=10 in-50000.pdf out/part.pdf \
            ";;" quillsever "$cli" split in-50000.pdf 10s --to out --quiet >>results
        measure "10s-dense" 50000 qpdf qpdf --split-pages=10 dense-50000.pdf out/part.pdf \
            ";;" quillsever "$cli" split dense-50000.pdf 10s --to out --quiet >>results
        # CPU time is counted in hundredths of a second: one split of 1,000 pages takes a few,
        # too coarse to compare per page with 50,000. Twenty in a row, each into a folder of its
        # own, count as 20,000 pages.
        pdf in-1000.pdf 1000 10 0
        printf 'for i in $(seq 20); do "$@" --to out/$i --quiet; done\n' >twenty.sh
        measure "10s-x20" 20000 quillsever bash twenty.sh "$cli" split in-1000.pdf 10s >>results
        ;;
    batch | jobs)
        pdf ten.pdf 10 10 0
        for sources in $([ "$c" = batch ] && echo 500 2000 || echo 2000); do
            if ! [ -d "src-$sources" ]; then
                mkdir -p "src-$sources"
                for i in $(seq "$sources"); do cp ten.pdf "src-$sources/s$i.pdf"; done
                write_batch "batch-$sources.spl" "src-$sources"/*.pdf
            fi
            if [ "$c" = batch ]; then
                measure "batch" "$((sources * 10))" qpdf bash qpdf-each.sh "src-$sources"/*.pdf \
                    ";;" quillsever "$cli" run "batch-$sources.spl" --quiet >>results
            else
                measure "jobs" "$((sources * 10))" "--jobs-1" "$cli" run "batch-$sources.spl" \
                    --quiet ";;" "--jobs-2" "$cli" run "batch-$sources.spl" --quiet --jobs 2 \
                    >>results
            fi
        done
        ;;
    esac
done

echo
echo "Load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; outputs on" \
    "$(df -T "$work" | awk 'NR == 2 {print $2}'); median of $runs rounds."
echo
echo "| case | pages | command | files | wall s | CPU s | CPU ms/page | peak MiB | wall vs first | CPU vs first |"
echo "|---|---|---|---|---|---|---|---|---|---|"
awk '
    !(($1 " " $2) in qw) { qw[$1 " " $2] = $5; qc[$1 " " $2] = $6 }
    { rows[NR] = $0 }
    END {
        for (i = 1; i <= NR; ++i) {
            split(rows[i], f, " ")
            key = f[1] " " f[2]
            label = f[1] == "batch" || f[1] == "jobs" ? sprintf("%d sources", f[2] / 10) \
                                                       : "\"" f[1] "\""
            printf "| %s | %d | %s | %d | %.2f | %.2f | %.3f | %.1f | %.2fx | %.2fx |\n",
                label, f[2], f[3], f[4], f[5], f[6], 1000 * f[6] / f[2], f[7] / 1024,
                f[5] / qw[key], f[6] / qc[key]
            if (f[3] == "quillsever" && f[1] == "10s") cpu[f[2]] = f[6] / f[2]
            if (f[1] == "10s-x20") twenty = f[6] / f[2]
            if (f[1] == "jobs") jobs[f[3]] = f[5]
        }
        if (twenty) cpu[1000] = twenty
        if (cpu[1000] && cpu[50000])
            printf "\nCPU per page of \"10s\", 50,000 pages against 1,000%s: %.2fx\n",
                twenty ? " (twenty splits of 1,000)" : "", cpu[50000] / cpu[1000]
        if (jobs["--jobs-1"] && jobs["--jobs-2"])
            printf "\n--jobs 2 against --jobs 1: %.2fx faster\n", jobs["--jobs-1"] / jobs["--jobs-2"]
    }' results
